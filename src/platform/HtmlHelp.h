// Windows only: shows a compiled HTML help file, or the page of a keyword, through the system's HTML Help control.
#pragma once

#include <QString>
#include <QtGlobal>

#ifdef Q_OS_WIN
// Opens path at its default topic with the native window ownerWindow (an HWND, 0 for none) as
// caller. The control is located and loaded on first use; when it cannot be, this and every
// later call do nothing (false).
bool ShowHtmlHelp(quintptr ownerWindow, const QString &path);
// Shows the page of keyword in the file's keyword index; when the index has none, the control
// says notFound in its own message box. False when the control is not available.
bool ShowHtmlHelpKeyword(quintptr ownerWindow, const QString &path, const QString &keyword,
                         const QString &notFound);
#endif
