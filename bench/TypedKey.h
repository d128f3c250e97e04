// One typed key as the benchmarks time it: pressed, released and shown on the screen.
#pragma once

#include <Qsci/qsciscintillabase.h>

#include <QCoreApplication>
#include <QKeyEvent>

// Types a key (an "x" unless told otherwise) into w and repaints it as the screen would; the
// notifications it raises (SCN_UPDATEUI and their handlers) run before this returns.
inline void TypeKeyAndShow(QsciScintillaBase &w, Qt::Key key = Qt::Key_X, const QString &text = QStringLiteral("x"))
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&w, &press);
    QCoreApplication::sendEvent(&w, &release);
    w.viewport()->repaint();
    QCoreApplication::processEvents();
}
