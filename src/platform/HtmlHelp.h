// Windows only: shows a compiled HTML help file through the system's HTML Help control.
#pragma once

#include <QString>
#include <QtGlobal>

#ifdef Q_OS_WIN
// Opens path at its default topic with the native window ownerWindow (an HWND, 0 for none) as
// caller. The control is located and loaded on first use; when it cannot be, this and every
// later call do nothing (false).
bool ShowHtmlHelp(quintptr ownerWindow, const QString &path);
#endif
