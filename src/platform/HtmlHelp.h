// Windows only: shows a compiled HTML help file through the system's HTML Help control.
#pragma once

#include <QString>

class QWidget;

#ifdef Q_OS_WIN
// Opens path at its default topic with owner's window as caller. The control is located and
// loaded on first use; when it cannot be, this and every later call do nothing (false).
bool ShowHtmlHelp(QWidget *owner, const QString &path);
#endif
