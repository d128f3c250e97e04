// The console pane's input line: keys, history, paste, cut and copy, and the line sent to Lisp.
#include "lisp/CTalvexPipe.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QElapsedTimer>
#include <QKeyEvent>

namespace {

// A paste goes in for at most this long per UI event, in runs of at most this many bytes.
constexpr qint64 kPasteSliceMs = 20;
constexpr qsizetype kPasteRun = qsizetype(64) << 10;

// Keys that put text into the document or take it out.
bool EditsText(const QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
        return true;
    default:
        return !e->text().isEmpty() && e->text().at(0).isPrint();
    }
}

} // namespace

void CTalvexPipe::StartInputAtEnd()
{
    const Pos length = GetLength();
    const Pos from = std::min(m_output.OutputEnd(), length);
    const QByteArray left = GetTextRange(from, length);
    m_output.StartInput(std::string_view(left.constData(), size_t(left.size())));
}

void CTalvexPipe::KeyDownPreamble()
{
    const Pos selectionEnd = GetSelectionEnd();
    const Pos length = GetLength();
    const Pos inputStart = m_output.InputStart();
    if (inputStart < 0 || inputStart > selectionEnd) {
        if (selectionEnd != length)
            GotoPos(length);
        StartInputAtEnd();
    }
}

void CTalvexPipe::KeepOutput()
{
    const Pos inputStart = m_output.InputStart();
    if (inputStart >= 0 && GetSelectionStart() < inputStart)
        GotoPos(GetLength());
}

void CTalvexPipe::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    const Qt::KeyboardModifiers modifiers = e->modifiers();

    // Holding Ctrl (to copy, say) neither moves the caret nor drops the selection.
    if (key == Qt::Key_Control) {
        e->accept();
        return;
    }
    // The clipboard and undo shortcuts act as the frame's commands do, without the preamble.
    static constexpr struct {
        QKeySequence::StandardKey key;
        void (CScintillaCtrl::*command)();
    } kEditKeys[] = {
        {QKeySequence::Copy, &CScintillaCtrl::OnEditCopy},   {QKeySequence::Paste, &CScintillaCtrl::OnEditPaste},
        {QKeySequence::Cut, &CScintillaCtrl::OnEditCut},     {QKeySequence::Undo, &CScintillaCtrl::OnEditUndo},
        {QKeySequence::Redo, &CScintillaCtrl::OnEditRedo},
    };
    for (const auto &edit : kEditKeys) {
        if (e->matches(edit.key)) {
            (this->*edit.command)();
            e->accept();
            return;
        }
    }
    // Alt combinations are system keys: no preamble, straight to the component.
    if ((modifiers & Qt::AltModifier) || key == Qt::Key_Alt || key == Qt::Key_Meta) {
        CScintillaCtrl::keyPressEvent(e);
        return;
    }

    if (IsPasting() && EditsText(e)) {
        // Typed while a paste goes in: after it, in order. Deleting waits for the paste.
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            m_paste.append('\n');
        else if (key == Qt::Key_Tab)
            m_paste.append('\t');
        else if (key != Qt::Key_Backspace && key != Qt::Key_Delete)
            m_paste.append(e->text().toUtf8());
        e->accept();
        return;
    }
    KeyDownPreamble();
    if (EditsText(e))
        KeepOutput();

    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (GetCurrentPos() <= m_output.InputStart()) {
            e->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        GotoPos(GetLength());
        if (modifiers & Qt::ControlModifier)
            break; // not a line for Lisp (Ctrl+Enter is the frame's command)
        // The component's Enter binding puts the line end at the end of the document.
        CScintillaCtrl::keyPressEvent(e);
        SendInputLine();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        e->accept();
        return;
    case Qt::Key_Home:
        SetSel(m_output.InputStart(), m_output.InputStart());
        e->accept();
        return;
    case Qt::Key_Up:
        if (!m_history.isEmpty())
            RecallHistory(-1);
        e->accept();
        return;
    case Qt::Key_Down:
        if (!m_history.isEmpty())
            RecallHistory(+1);
        if (GetCurrentPos() <= m_output.InputStart()) {
            e->accept();
            return;
        }
        break;
    default:
        break;
    }
    CScintillaCtrl::keyPressEvent(e);
}

void CTalvexPipe::inputMethodEvent(QInputMethodEvent *e)
{
    // Text composed by an input method is typed text too.
    if (!e->commitString().isEmpty()) {
        KeyDownPreamble();
        KeepOutput();
    }
    CScintillaCtrl::inputMethodEvent(e);
}

void CTalvexPipe::ReplaceInput(const QByteArray &text)
{
    // Through the output path's line breaking, so a long pasted or recalled line costs no more
    // per byte than a short one; the breaks are left out again when the line is sent.
    const Pos start = GetSelectionStart();
    SetTargetRange(start, GetSelectionEnd());
    ReplaceTarget(QByteArray());
    // The column where the text goes: the output end's, and that of what is typed before it.
    const Pos inputStart = std::max<Pos>(0, m_output.InputStart());
    const Pos from = std::max(inputStart, start - Pos(4 * CConsoleOutput::kColumnsMax));
    const QByteArray before = GetTextRange(from, start);
    const int column = m_output.ColumnAfter(std::string_view(before.constData(), size_t(before.size())),
                                            from == inputStart ? m_output.OutputColumn() : 0);
    const Pos added = InsertBroken(start, std::string_view(text.constData(), size_t(text.size())), column);
    GotoPos(start + added);
}

void CTalvexPipe::RecallHistory(int step)
{
    const qsizetype count = m_history.size();
    SetSel(m_output.InputStart(), GetLength());
    m_nHistoryIndex += step;
    if (m_nHistoryIndex < 0)
        m_nHistoryIndex = static_cast<int>(count - 1);
    else if (m_nHistoryIndex >= count)
        m_nHistoryIndex = 0;
    ReplaceInput(m_history.at(m_nHistoryIndex));
}

void CTalvexPipe::SendInputLine()
{
    const Pos length = GetLength();
    const Pos start = std::min(m_output.InputStart() >= 0 ? m_output.InputStart() : m_output.OutputEnd(), length);
    const QByteArray shown = GetTextRange(start, length);
    m_output.InputSent(std::string_view(shown.constData(), size_t(shown.size())));
    QByteArray line = PlainText(start, length);
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1) == '\n' || line.at(end - 1) == '\r'))
        --end;
    line.truncate(end);

    if (!line.isEmpty())
        m_history.append(line);
    m_nHistoryIndex = static_cast<int>(m_history.size());
    GotoPos(length);
    if (!CanTakeLine())
        return;
    // The console already shows the line end, so the line feed that usually opens Lisp's answer
    // is dropped.
    m_output.ExpectAnswer();
    WriteLine(line);
}

// --- Paste, cut, copy and context menu ------------------------------------------------------

void CTalvexPipe::OnEditPaste()
{
    const QClipboard *clipboard = QApplication::clipboard();
    if (!clipboard)
        return;
    const QString text = clipboard->text();
    if (text.isEmpty())
        return;
    PasteText(text.toUtf8());
}

void CTalvexPipe::PasteText(const QByteArray &text)
{
    if (text.isEmpty())
        return;
    const bool going = IsPasting();
    m_paste.append(text);
    if (!going)
        PasteSome();
}

void CTalvexPipe::PasteSome()
{
    // Pasted text goes where typed text goes: into the input line, never into the output. A run of
    // ordinary characters is inserted in one piece, which is what inserting them one by one does.
    // Each line end (LF, CR LF or a lone CR) acts like one typed Enter: line end at the
    // document's end, then the input line is sent.
    KeyDownPreamble();
    KeepOutput();
    QElapsedTimer slice;
    slice.start();
    const char *data = m_paste.constData();
    const qsizetype size = m_paste.size();
    while (m_nPasted < size && slice.elapsed() < kPasteSliceMs) {
        qsizetype end = m_nPasted;
        const qsizetype runMax = std::min(size, m_nPasted + kPasteRun);
        while (end < runMax && data[end] != '\n' && data[end] != '\r')
            ++end;
        if (end == runMax && end < size) {
            // A run cut inside a line: never between a UTF-8 lead byte and its continuation.
            while (end > m_nPasted + 1 && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80)
                --end;
        }
        if (end > m_nPasted) {
            if (m_output.InputStart() < 0)
                StartInputAtEnd();
            ReplaceInput(m_paste.mid(m_nPasted, end - m_nPasted));
        }
        m_nPasted = end;
        if (end == size || (data[end] != '\n' && data[end] != '\r'))
            continue;
        if (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')
            ++end;
        if (m_lisp.IsInputFull()) {
            // The Lisp has stopped reading: this line and the rest of the paste are not sent, and
            // one line says so.
            ShowNotReading();
            m_nPasted = size;
            break;
        }
        m_nPasted = end + 1;
        if (m_output.InputStart() < 0)
            StartInputAtEnd();
        GotoPos(GetLength());
        NewLine();
        SendInputLine();
    }
    if (m_nPasted < size) {
        m_pasteTimer.start(0);
        return;
    }
    m_paste.clear();
    m_nPasted = 0;
    PostTake();   // the output that waited for the paste
}

void CTalvexPipe::OnEditCopy()
{
    const Pos start = GetSelectionStart(), end = GetSelectionEnd();
    if (start >= end)
        return;
    if (QClipboard *clipboard = QApplication::clipboard())
        clipboard->setText(QString::fromUtf8(PlainText(start, end)));
}

void CTalvexPipe::OnEditCut()
{
    // What was shown stays: only the part of the selection that lies in the input line goes.
    const Pos start = GetSelectionStart(), end = GetSelectionEnd();
    if (start >= end)
        return;
    OnEditCopy();
    const Pos inputStart = m_output.InputStart();
    if (inputStart < 0 || end <= inputStart)
        return;
    SetTargetRange(std::max(start, inputStart), end);
    ReplaceTarget(QByteArray());
    GotoPos(std::max(start, inputStart));
}

void CTalvexPipe::contextMenuEvent(QContextMenuEvent *e)
{
    // The frame shows its Edit menu; the component's own menu never appears.
    QWidget *frame = window();
    if (frame && frame != this) {
        QContextMenuEvent copy(e->reason(), frame->mapFromGlobal(e->globalPos()), e->globalPos(),
                               e->modifiers());
        QCoreApplication::sendEvent(frame, &copy);
    }
    e->accept();
}
