#include "ui/file_list_view.h"

#include <QTreeWidget>

#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {

QTreeWidget* MakeFileList(QWidget* dialog, int thirdColumnId) {
    auto* list = new QTreeWidget(dialog);
    list->setObjectName(QStringLiteral("fileList"));
    list->setColumnCount(3);
    list->setHeaderLabels({QString::fromStdString(GetString(kStrColumnFileName)),
                           QString::fromStdString(GetString(kStrColumnSize)),
                           QString::fromStdString(GetString(thirdColumnId))});
    list->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    list->setUniformRowHeights(true);
    list->setAcceptDrops(false);
    return list;
}

}  // namespace vantrove
