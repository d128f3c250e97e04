// The Lisp editor view: set-up, the Enter keys, Lisp indentation and the forwarded context menu.
#include "editor/CTalvexView.h"

#include "editor/CIndentLexicon.h"
#include "editor/LispEditing.h"
#include "editor/SendToLispEvent.h"
#include "editor/TextToSend.h"
#include "settings/CSettingsStore.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QStatusTipEvent>

#include <algorithm>

namespace {

constexpr int kMarginMinWidth = 40;  // fits five digits in the usual fonts
constexpr int kMarginMinDigits = 5;
constexpr int kMarginPadding = 8;    // around the number, as Scintilla draws it

// Measured in bench_longlines: in a document of 100 KB lines a key takes 150 ms unwrapped and
// 20 ms wrapped; a 50 MB line takes a third longer per key wrapped, and twice as long to open.
constexpr CScintillaCtrl::Pos kWrapLinesFrom = 4 * 1024;
constexpr CScintillaCtrl::Pos kWrapLinesUpTo = 4 * 1024 * 1024;

int Digits(int number)
{
    int digits = 1;
    for (; number >= 10; number /= 10)
        ++digits;
    return digits;
}

} // namespace

CTalvexView::CTalvexView(QWidget *parent) : CScintillaCtrl(parent)
{
    connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, &CTalvexView::FitViewToText);
}

CTalvexView::~CTalvexView()
{
    CIndentLexicon::Shared().Forget(this);
}

void CTalvexView::ConfigureView()
{
    ApplyLispSetup();

    CSettingsStore &settings = CSettingsStore::Instance();
    // 0 CR LF, 1 CR, 2 LF; anything else stored counts as absent.
    int mode = settings.ReadInt(CSettingsStore::kSettings, QStringLiteral("LineEnding"), CSettingsStore::kDefaultLineEnding);
    if (mode < SC_EOL_CRLF || mode > SC_EOL_LF)
        mode = CSettingsStore::kDefaultLineEnding;
    SetEOLMode(mode);
    m_bAutoIndent = settings.ReadInt(CSettingsStore::kSettings, QStringLiteral("AutoIndent"), 0) != 0;

    // Enter and Shift+Enter do nothing in Scintilla's key map; keyPressEvent handles them.
    ClearCmdKey(SCK_RETURN);
    ClearCmdKey(SCK_RETURN + (SCMOD_SHIFT << 16));
    m_nMarginDigits = 0;
    FitViewToText();
}

void CTalvexView::FitViewToText()
{
    // A few messages, nothing more, unless the digits or the wrap change.
    const int line = LineFromPosition(GetCurrentPos());
    FitWrapToLines(std::max(m_nLongestLine, GetLineEndPosition(line) - PositionFromLine(line)));

    const int digits = std::max(kMarginMinDigits, Digits(GetLineCount()));
    if (digits == m_nMarginDigits)
        return;
    m_nMarginDigits = digits;
    int width = kMarginMinWidth;
    if (digits > kMarginMinDigits) {
        const QByteArray widest(digits, '9');
        width = std::max(width, TextWidth(STYLE_LINENUMBER, widest) + kMarginPadding);
    }
    SetMarginWidthN(0, width);
}

void CTalvexView::FitWrapToLines(Pos longestLine)
{
    m_nLongestLine = longestLine;
    const bool wrap = longestLine > kWrapLinesFrom && longestLine <= kWrapLinesUpTo;
    if (wrap != m_bWrapped) {
        m_bWrapped = wrap;
        SetWrapMode(wrap ? SC_WRAP_WORD : SC_WRAP_NONE);
    }
}

void CTalvexView::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) {
        if (!m_bAutoIndent || !IsClosingBracket(e->text())) {
            CScintillaCtrl::keyPressEvent(e);
            return;
        }
        // The typed bracket and the line's new indentation undo together.
        BeginUndoAction();
        CScintillaCtrl::keyPressEvent(e);
        IndentAfterClosingBracket();
        EndUndoAction();
        return;
    }
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        // Ctrl+Enter and Alt+Enter are the main window's commands, never typed text.
        e->ignore();
        return;
    }
    e->accept();
    if ((mods & Qt::ShiftModifier) || key == Qt::Key_Enter || (mods & Qt::KeypadModifier)) {
        SendTextAtCaret();
        return;
    }
    InsertNewLine();
}

void CTalvexView::InsertNewLine()
{
    if (!m_bAutoIndent) {
        // Exactly the line end of the view's mode, replacing any selection; no indentation.
        NewLine();
        return;
    }
    BeginUndoAction();
    NewLine();
    const int line = LineFromPosition(GetCurrentPos());
    // A line left holding only blanks (the indentation of a line typed nothing into) loses them.
    const Pos endedStart = PositionFromLine(line - 1);
    const Pos endedEnd = GetLineEndPosition(line - 1);
    if (endedEnd > endedStart && GetLineIndentPosition(line - 1) == endedEnd) {
        SetTargetRange(endedStart, endedEnd);
        ReplaceTarget({});
    }
    LispEditing::IndentLines(*this, line - 1, line, ActiveReaderDialect(), true);
    EndUndoAction();
}

bool CTalvexView::IsClosingBracket(const QString &typed)
{
    if (typed.size() != 1)
        return false;
    const QChar c = typed.at(0);
    const LispSyntax &syntax = SyntaxOf(ActiveReaderDialect());
    return c == u')' || (syntax.squareBrackets && c == u']') || (syntax.curlyBrackets && c == u'}');
}

void CTalvexView::IndentAfterClosingBracket()
{
    const Pos caret = GetCurrentPos();
    const int line = LineFromPosition(caret);
    const int typed = caret > 0 ? GetCharAt(caret - 1) : 0;
    if ((typed == ')' || typed == ']' || typed == '}') && GetLineIndentPosition(line) == caret - 1)
        LispEditing::IndentLines(*this, line, line, ActiveReaderDialect());
}

void CTalvexView::IndentSelectedLines()
{
    const Pos start = GetSelectionStart();
    const Pos end = GetSelectionEnd();
    const int first = LineFromPosition(start);
    int last = LineFromPosition(end);
    if (last > first && end == PositionFromLine(last))
        --last;
    LispEditing::IndentLines(*this, first, last, ActiveReaderDialect());
}

bool CTalvexView::SendableState(bool bracketRule) const
{
    // A selection or a bracket with its partner before the caret (an opening one too) is enough,
    // as the highlighter found it. Otherwise the reader may still see a form that Scintilla's
    // match misses (a bracket behind #\ inside it); reading the whole document back to its start
    // for one would cost every caret move there as much again, so the form at hand must do.
    return bracketRule || LispEditing::FormBeforeCaret(*this, ActiveReaderDialect(), false).has_value();
}

void CTalvexView::SendTextAtCaret()
{
    QByteArray text = GetTextToSend(*this);
    if (text.isEmpty()) {
        QStatusTipEvent tip(QString::fromLatin1(kNothingToSend));
        QCoreApplication::sendEvent(window(), &tip);
        return;
    }
    SendToLispEvent ev(std::move(text));
    QCoreApplication::sendEvent(window(), &ev);
}

void CTalvexView::LearnDefinitions(const QByteArray &text)
{
    CIndentLexicon::Shared().Learn(this, {text.constData(), static_cast<std::size_t>(text.size())},
                                   SyntaxOf(ActiveReaderDialect()));
}

void CTalvexView::contextMenuEvent(QContextMenuEvent *e)
{
    // The main window shows its Edit menu; Scintilla's own menu never appears.
    e->accept();
    QWidget *top = window();
    if (top == this)
        return;
    QContextMenuEvent copy(e->reason(), top->mapFromGlobal(e->globalPos()), e->globalPos(), e->modifiers());
    QCoreApplication::sendEvent(top, &copy);
}
