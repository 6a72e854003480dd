#include "ui/file_dialog_filters.h"

#include "core/string_table.h"

namespace vantrove {

QString FilterDescription(const QString& description) {
    QString text = description.trimmed();
    if (text.endsWith(QLatin1Char(')'))) {
        const int open = text.lastIndexOf(QLatin1Char('('));
        if (open > 0) text = text.left(open).trimmed();
    }
    return text;
}

QStringList FileDialogFilters(const QString& text) {
    QStringList filters;
    const QStringList parts = text.split(QLatin1Char('|'));
    // Pairs of description and patterns; a trailing empty part ends the text.
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = FilterDescription(parts[i]);
        if (description.isEmpty()) continue;
        QStringList patterns;
        for (const QString& raw : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QString pattern = raw.trimmed();
            if (pattern.isEmpty()) continue;
            // "*.*" means every file; here it would only match names with a dot.
            if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
            for (const QString& variant : {pattern, pattern.toLower(), pattern.toUpper()}) {
                if (!patterns.contains(variant)) patterns.append(variant);
            }
        }
        if (patterns.isEmpty()) continue;
        filters.append(description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters;
}

QStringList FileDialogFiltersOf(std::initializer_list<int> stringIds) {
    QStringList filters;
    for (int id : stringIds) filters += FileDialogFilters(QString::fromStdString(GetString(id)));
    return filters;
}

}  // namespace vantrove
