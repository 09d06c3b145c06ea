#pragma once

#include <QString>

class QWidget;
class ToolPage;

inline constexpr int kPageCount = 12;

// The page of each index, created as a child of parent. Each page's own set-up
// runs as it is created.
ToolPage* CreatePage(int index, QWidget* parent);
