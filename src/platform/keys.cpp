// Key presses as the command table names them, whatever the window system called them.
#include "platform/Keys.h"

#include <QKeyEvent>

namespace {

// The X keysym of Break, which the X keyboard maps reach with Ctrl held on the Pause key.
constexpr quint32 kXBreakKeysym = 0xff6b;

} // namespace

QKeyCombination KeyCombinationOf(const QKeyEvent &event)
{
    if (event.key() == 0 && event.nativeVirtualKey() == kXBreakKeysym)
        return QKeyCombination(event.modifiers(), Qt::Key_Pause);
    return event.keyCombination();
}
