// The text an evaluation command takes from an editor view.
#include "editor/TextToSend.h"

#include "editor/CScintillaCtrl.h"
#include "editor/LispEditing.h"

QByteArray GetTextToSend(CScintillaCtrl &view)
{
    QByteArray selected = view.GetSelText();
    if (!selected.isEmpty())
        return selected;
    const std::optional<LispEditing::Span> form = LispEditing::FormBeforeCaret(view, ActiveReaderDialect());
    return form ? view.GetTextRange(form->start, form->end) : QByteArray();
}
