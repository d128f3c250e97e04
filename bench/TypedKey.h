// One typed key as the benchmarks time it: pressed, released and shown on the screen.
#pragma once

#include <Qsci/qsciscintillabase.h>

#include <QCoreApplication>
#include <QKeyEvent>

// Types an "x" into w and repaints it as the screen would; the notifications it raises
// (SCN_UPDATEUI and their handlers) run before this returns.
inline void TypeKeyAndShow(QsciScintillaBase &w)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(&w, &press);
    QCoreApplication::sendEvent(&w, &release);
    w.viewport()->repaint();
    QCoreApplication::processEvents();
}
