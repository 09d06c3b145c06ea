#pragma once

#include <QString>

class QWidget;
class ToolPage;

inline constexpr int kPageCount = 12;

// The page of each index, created as a child of parent; null for an index
// outside 0 to kPageCount - 1. Each page's own set-up runs as it is created.
ToolPage* CreatePage(int index, QWidget* parent);
