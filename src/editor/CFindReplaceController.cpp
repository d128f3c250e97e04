// Find and replace in the active editor view: the dialog's life and the search rules.
#include "editor/CFindReplaceController.h"

#include "editor/CFindReplaceDialog.h"
#include "editor/CTalvexView.h"

#include <QApplication>
#include <QKeyEvent>

namespace {

using Pos = long;

// Scintilla's search flags; the dialog's options map onto exactly these two.
constexpr int kScFindWholeWord = 2;
constexpr int kScFindMatchCase = 4;

// One search as SCI_FINDTEXT performs it: the match must lie wholly inside [min, max], a range
// with min > max is searched backwards. Done through the target so that the text goes by length.
Pos FindText(QsciScintillaBase &sci, int flags, Pos min, Pos max, const QByteArray &text, Pos &end)
{
    sci.SendScintilla(QsciScintillaBase::SCI_SETTARGETSTART, static_cast<unsigned long>(min));
    sci.SendScintilla(QsciScintillaBase::SCI_SETTARGETEND, static_cast<unsigned long>(max));
    sci.SendScintilla(QsciScintillaBase::SCI_SETSEARCHFLAGS, static_cast<unsigned long>(flags));
    const Pos found = sci.SendScintilla(QsciScintillaBase::SCI_SEARCHINTARGET,
                                        static_cast<uintptr_t>(text.size()), text.constData());
    if (found >= 0)
        end = sci.SendScintilla(QsciScintillaBase::SCI_GETTARGETEND);
    return found;
}

// Replaces the selection, leaving the caret after the inserted text. The quiet form (for Replace
// All) goes through the target, which neither scrolls nor lays out the line for the caret.
void ReplaceSelection(QsciScintillaBase &sci, const QByteArray &text, bool quiet)
{
    if (!quiet) {
        sci.SendScintilla(QsciScintillaBase::SCI_REPLACESEL, static_cast<uintptr_t>(0), text.constData());
        return;
    }
    const Pos start = sci.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
    const Pos end = sci.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
    sci.SendScintilla(QsciScintillaBase::SCI_SETTARGETSTART, static_cast<unsigned long>(start));
    sci.SendScintilla(QsciScintillaBase::SCI_SETTARGETEND, static_cast<unsigned long>(end));
    sci.SendScintilla(QsciScintillaBase::SCI_REPLACETARGET, static_cast<uintptr_t>(text.size()),
                      text.constData());
    const Pos caret = start + text.size();
    sci.SendScintilla(QsciScintillaBase::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
}

// Selects start..end with the caret at end. SCI_SETSEL scrolls the caret into view; the quiet
// form leaves that to one scroll when Replace All is done.
void Select(QsciScintillaBase &sci, Pos start, Pos end, bool quiet)
{
    if (!quiet) {
        sci.SendScintilla(QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(start),
                          static_cast<long>(end));
        return;
    }
    sci.SendScintilla(QsciScintillaBase::SCI_SETCURRENTPOS, static_cast<unsigned long>(end));
    sci.SendScintilla(QsciScintillaBase::SCI_SETANCHOR, static_cast<unsigned long>(start));
}

} // namespace

CFindReplaceController::CFindReplaceController(QWidget *frame,
                                               std::function<CTalvexView *()> activeView)
    : m_pFrame(frame), m_activeView(std::move(activeView))
{
}

// The dialog belongs to the frame (its parent) and goes with it.
CFindReplaceController::~CFindReplaceController() = default;

CFindReplaceDialog *CFindReplaceController::Dialog() const
{
    return m_pFindDlg.data();
}

void CFindReplaceController::OnEditFind(int commandId)
{
    CTalvexView *view = m_activeView ? m_activeView() : nullptr;
    if (!view)
        return;
    if (!m_pFindDlg) {
        // The kind and the initial text are fixed here; later commands only show the dialog.
        m_pFindDlg = new CFindReplaceDialog(commandId != ID_EDIT_REPLACE, view->GetSelText(), m_pFrame);
        connect(m_pFindDlg.data(), &CFindReplaceDialog::findReplace, this,
                &CFindReplaceController::OnFindReplace);
    }
    m_pFindDlg->show();
    m_pFindDlg->raise();
    m_pFindDlg->activateWindow();
}

int CFindReplaceController::OnFindReplace()
{
    CFindReplaceDialog *dlg = m_pFindDlg.data();
    if (!dlg)
        return 0;
    const unsigned flags = dlg->Flags();
    if (flags & CFindReplaceDialog::FR_DIALOGTERM) {
        m_pFindDlg = nullptr;
        return 1;
    }
    constexpr unsigned actions = CFindReplaceDialog::FR_FINDNEXT | CFindReplaceDialog::FR_REPLACE
        | CFindReplaceDialog::FR_REPLACEALL;
    CTalvexView *view = m_activeView ? m_activeView() : nullptr;
    if (!view || !(flags & actions))
        return 0;
    Search(*view, flags, dlg->FindWhat(), dlg->ReplaceWith());
    return 0;
}

bool CFindReplaceController::PreTranslateKey(QKeyEvent *ev)
{
    if (!m_pFindDlg || !ev || ev->type() != QEvent::KeyPress)
        return false;
    if (ev->key() != Qt::Key_Return && ev->key() != Qt::Key_Enter)
        return false;
    if (ev->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (QApplication::activeWindow() != m_pFindDlg.data())
        return false;
    // Consumed here, so neither the focused control nor the dialog acts on it a second time.
    // FindNext does nothing while the find text is empty.
    m_pFindDlg->FindNext();
    return true;
}

int CFindReplaceController::Search(QsciScintillaBase &view, unsigned flags,
                                   const QByteArray &findWhat, const QByteArray &replaceWith)
{
    // An empty text matches emptily at the start of every range: Replace All would never end.
    if (findWhat.isEmpty())
        return 0;

    int scFlags = 0;
    if (flags & CFindReplaceDialog::FR_MATCHCASE)
        scFlags |= kScFindMatchCase;
    if (flags & CFindReplaceDialog::FR_WHOLEWORD)
        scFlags |= kScFindWholeWord;
    const bool replace = flags & (CFindReplaceDialog::FR_REPLACE | CFindReplaceDialog::FR_REPLACEALL);
    const bool replaceAll = flags & CFindReplaceDialog::FR_REPLACEALL;
    const bool down = flags & CFindReplaceDialog::FR_DOWN;
    const QByteArray replacement = replaceWith; // NUL-terminated for SCI_REPLACESEL

    // One Replace All is one step of the undo history, however many replacements it makes.
    if (replaceAll)
        view.SendScintilla(QsciScintillaBase::SCI_BEGINUNDOACTION);
    int found = 0;
    for (;;) {
        // Whatever is selected is replaced, matching or not; the caret ends after the inserted
        // text, so the search below starts behind it and Replace All always moves forward.
        if (replace
            && view.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART)
                   != view.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND))
            ReplaceSelection(view, replacement, replaceAll);

        const Pos caret = view.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
        Pos min = caret;
        Pos max = view.SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH);
        if (!down) {
            // Backwards from just before the caret: a match ending at the caret (the one just
            // selected) is not found again.
            if (caret <= 0)
                break;
            min = caret - 1;
            max = 0;
        }
        Pos end = 0;
        const Pos start = FindText(view, scFlags, min, max, findWhat, end);
        if (start < 0)
            break; // no wrap-around, no message: the selection stays as it is
        Select(view, start, end, replaceAll);
        ++found;
        if (!replaceAll)
            break;
    }
    // Replace All moved the caret quietly; now show where it ended.
    if (replaceAll) {
        view.SendScintilla(QsciScintillaBase::SCI_ENDUNDOACTION);
        view.SendScintilla(QsciScintillaBase::SCI_SCROLLCARET);
    }
    return found;
}
