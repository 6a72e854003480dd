#pragma once
// The filters of the program's file dialogs, from the string table's
// "description|pattern;pattern|" texts to the form Qt's file dialog takes
// ("description (pattern pattern)"). File names are matched without regard
// to case, so each pattern is also given in lower and upper case. Pure
// functions; any thread.

#include <QString>
#include <QStringList>
#include <initializer_list>

namespace vantrove {

// A description without the patterns it names in brackets at its end
// ("Volumi di Recupero (*.PAR2, *.P??)" is "Volumi di Recupero"): the file
// dialog shows the patterns of the filter once, after the description.
QString FilterDescription(const QString& description);

// The filters of one text: every "description|patterns|" pair in it.
QStringList FileDialogFilters(const QString& text);

// The filters of several string-table texts, in the order given.
QStringList FileDialogFiltersOf(std::initializer_list<int> stringIds);

}  // namespace vantrove
