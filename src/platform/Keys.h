// Key presses as the command table names them, whatever the window system called them.
#pragma once

#include <QKeyCombination>

class QKeyEvent;

// The key and modifiers of a press. Ctrl+Pause is the Break key of a PC keyboard: the X window
// system reports it as a key of its own that Qt leaves unnamed, so it is given Qt's name of the
// Pause key here; elsewhere the press is taken as Qt names it.
QKeyCombination KeyCombinationOf(const QKeyEvent &event);
