// The text an evaluation command takes from an editor view.
#include "editor/TextToSend.h"

#include "editor/CScintillaCtrl.h"

QByteArray GetTextToSend(CScintillaCtrl &view)
{
    QByteArray selected = view.GetSelText();
    if (!selected.isEmpty())
        return selected;

    // Any closing bracket: Clojure's vectors and maps, and the square brackets some Schemes
    // write, end forms too.
    const CScintillaCtrl::Pos before = view.GetCurrentPos() - 1;
    const int closing = before < 0 ? 0 : view.GetCharAt(before);
    if (closing != ')' && closing != ']' && closing != '}')
        return {};
    // Scintilla pairs only brackets of the same style, so parentheses inside strings and
    // comments do not count against the ones in code.
    const CScintillaCtrl::Pos open = view.BraceMatch(before);
    if (open < 0)
        return {};
    return view.GetTextRange(open, before + 1);
}
