// The window list at the end of the Window menu: one numbered item per open document.
#pragma once

#include <QStringList>

class QMenu;

// Rebuilds the list in popup: keeps the items in front of it (Close, Close All), removes
// everything from the first window-list item (ids 0xFF00..0xFFFD) on, then, when there are
// titles, a separator and "&1 title" .. "&9 title", "10 title" .. (at most limit and at most 99
// items; data 0xFF00 + index) with a radio check on the active one. With no titles no separator
// is left behind.
void BuildWindowMenu(QMenu *popup, const QStringList &titles, int activeIndex, int limit);
