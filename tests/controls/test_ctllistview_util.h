// Shared by the list view tests: the editor's four report columns.
#pragma once

#include <QString>

#include "controls/ctllistview.h"

namespace lumeval::test {

inline void AddEditorColumns(ctlListView& list) {
    list.AddColumn(0, QStringLiteral("序号"), 40);
    list.AddColumn(1, QStringLiteral("开始时间"), 100);
    list.AddColumn(2, QStringLiteral("结束时间"), 100);
    list.AddColumn(3, QStringLiteral("字幕"), 300);
}

}  // namespace lumeval::test
