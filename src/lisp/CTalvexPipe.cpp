// The console pane: output display, the input line with its history, and the console's paste.
#include "lisp/CTalvexPipe.h"

#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <string>

namespace {

// Largest piece of one hand-over appended per UI event. Appending costs time in proportion to the
// bytes (and the control's buffer grows in steps); a megabyte keeps each event short while the
// per-event cost stays negligible (50 events for 50 MB).
constexpr size_t kMaxAppend = size_t(1) << 20;

// The console manages the room of its text and style buffers itself, so that their growth can
// use memory made ready in the background (see CBufferReserve). Room beyond the output covers
// typing; each growth adds a quarter.
constexpr size_t kSlack = size_t(64) << 10;
constexpr size_t kFirstCapacity = size_t(256) << 10;
// Below this a growth into fresh memory is quick enough on its own.
constexpr size_t kReserveFrom = size_t(4) << 20;
// Output waits at most this long for a reserve being made ready, then grows the ordinary way.
constexpr int kMaxReserveWaitMs = 1000;
// A reserve not used by then (the output stopped short of the growth) is given back.
constexpr int kReserveKeepMs = 10000;

size_t NextCapacity(size_t capacity, size_t need)
{
    return std::max({need, capacity + capacity / 4, kFirstCapacity});
}

// Where to cut a piece of at most max bytes: after the last line feed in it, else (no line feed)
// before a UTF-8 continuation byte is never split from its lead byte.
size_t PieceLength(const char *data, size_t length, size_t max)
{
    if (length <= max)
        return length;
    for (size_t i = max; i > max / 2; --i)
        if (data[i - 1] == '\n')
            return i;
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(data[cut]) & 0xC0) == 0x80)
        --cut;
    return cut > 0 ? cut : max;
}

} // namespace

CTalvexPipe::CTalvexPipe(QWidget *parent)
    : CScintillaCtrl(parent)
{
    m_retryDrain.setSingleShot(true);
    m_retryDrain.setInterval(5);
    connect(&m_retryDrain, &QTimer::timeout, this, &CTalvexPipe::PostDrain);
    m_reserveKeep.setSingleShot(true);
    m_reserveKeep.setInterval(kReserveKeepMs);
    connect(&m_reserveKeep, &QTimer::timeout, this, [this] { m_reserve.Release(); });
}

CTalvexPipe::~CTalvexPipe()
{
    // The reader thread must be gone before any member it could reach is destroyed.
    StopLisp();
}

void CTalvexPipe::ConfigureConsole()
{
    ApplyLispSetup();
    SetMarginWidthN(0, 0);
    SetMarginWidthN(1, 0);
    SetWrapMode(SC_WRAP_WORD);
    // Read only here: the framing chosen at start-up holds for the whole run.
    m_bFrameCommands = CSettingsStore::Instance().ReadInt(CSettingsStore::kSettings,
                                                          QStringLiteral("KeywordSet"), 0) == 2;
}

// --- Output ---------------------------------------------------------------------------------

void CTalvexPipe::OnOutputPending()
{
    // On the UI thread (a start error, say) the text is shown right away.
    if (QThread::currentThread() == thread()) {
        FlushBacklog();
        DrainOutput();
        return;
    }
    // Reader thread. One queued drain at a time: however fast output arrives, the UI thread
    // gets a single event and then takes everything that accumulated by then.
    PostDrain();
}

void CTalvexPipe::PostDrain()
{
    if (!m_bDrainPosted.exchange(true))
        QMetaObject::invokeMethod(this, [this] { DrainPosted(); }, Qt::QueuedConnection);
}

void CTalvexPipe::DrainPosted()
{
    // Cleared before draining: output arriving after this point posts a new drain, output
    // arriving before it is taken by this one.
    m_bDrainPosted.store(false);
    if (!m_backlog.isEmpty()) {
        // The rest of an earlier hand-over goes first; newer output waits for the next event.
        const size_t piece = PieceLength(m_backlog.constData(), size_t(m_backlog.size()), kMaxAppend);
        if (!RoomReady(piece)) {
            m_retryDrain.start();
            return;
        }
        AppendAtEnd(m_backlog.constData(), piece);
        m_backlog.remove(0, static_cast<qsizetype>(piece));
        PostDrain();
        return;
    }
    m_bSliceOutput = true;
    DrainOutput();
    m_bSliceOutput = false;
}

void CTalvexPipe::FlushBacklog()
{
    if (m_backlog.isEmpty())
        return;
    AppendAtEnd(m_backlog.constData(), size_t(m_backlog.size()));
    m_backlog.clear();
}

size_t CTalvexPipe::RoomNeeded(size_t length) const
{
    return size_t(GetLength()) + length + kSlack;
}

bool CTalvexPipe::RoomReady(size_t length)
{
    const size_t need = RoomNeeded(length);
    if (need <= m_nCapacity || !m_reserve.IsPreparing()
        || NextCapacity(m_nCapacity, need) > m_reserve.PreparedSize()) {
        m_reserveWait.invalidate();
        return true;
    }
    if (!m_reserveWait.isValid())
        m_reserveWait.start();
    return m_reserveWait.elapsed() >= kMaxReserveWaitMs;
}

void CTalvexPipe::MakeRoom(size_t length)
{
    const size_t need = RoomNeeded(length);
    if (need > m_nCapacity) {
        const size_t capacity = NextCapacity(m_nCapacity, need);
        {
            CBufferReserve::Lend lend(m_reserve);
            Allocate(static_cast<Pos>(capacity));
        }
        m_nCapacity = capacity;
        m_reserve.Release();
        m_reserveWait.invalidate();
    }
    // Past three quarters of the room, the next growth's two blocks are made ready while the
    // output keeps coming.
    if (m_nCapacity >= kReserveFrom && need > m_nCapacity - m_nCapacity / 4) {
        m_reserve.Prepare(NextCapacity(m_nCapacity, 0), 2);
        m_reserveKeep.start();
    }
}

void CTalvexPipe::AppendAtEnd(const char *data, size_t length)
{
    MakeRoom(length);
    if (length > 0)
        AppendText(data, static_cast<Pos>(length));
    GotoPos(GetLength());
}

void CTalvexPipe::AppendOutput(const char *data, size_t length)
{
    if (length == 0)
        return;
    if (QThread::currentThread() != thread()) {
        // Not expected (output is drained on the UI thread), but never touch the control from
        // another thread: the copy is shown in order behind the drains already queued.
        QByteArray copy(data, static_cast<qsizetype>(length));
        QMetaObject::invokeMethod(
            this, [this, copy] { AppendOutput(copy.constData(), static_cast<size_t>(copy.size())); },
            Qt::QueuedConnection);
        return;
    }
    if (data[0] == '\n' && m_bSkipNewline.exchange(false)) {
        ++data;
        --length;
    }
    if (m_bSliceOutput) {
        const size_t piece = PieceLength(data, length, kMaxAppend);
        if (!RoomReady(piece)) {
            // The buffers are about to grow and their memory is still being made ready: the
            // whole hand-over waits, in order, while keys and painting go on.
            m_backlog.append(data, static_cast<qsizetype>(length));
            m_retryDrain.start();
            return;
        }
        if (piece < length) {
            m_backlog.append(data + piece, static_cast<qsizetype>(length - piece));
            length = piece;
            PostDrain();
        }
    }
    AppendAtEnd(data, length);
}

void CTalvexPipe::ShowText(const QByteArray &text)
{
    // Output still waiting was written before this text: show it first to keep the order.
    FlushBacklog();
    DrainOutput();
    AppendOutput(text.constData(), static_cast<size_t>(text.size()));
}

// --- Keyboard -------------------------------------------------------------------------------

void CTalvexPipe::KeyDownPreamble()
{
    const Pos selectionEnd = GetSelectionEnd();
    const Pos length = GetLength();
    if (m_nInputStart < 0 || m_nInputStart > selectionEnd) {
        if (selectionEnd != length)
            GotoPos(length);
        m_nInputStart = length;
    }
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

    KeyDownPreamble();

    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (GetCurrentPos() <= m_nInputStart) {
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
        SetSel(m_nInputStart, m_nInputStart);
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
        if (GetCurrentPos() <= m_nInputStart) {
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
    if (!e->commitString().isEmpty())
        KeyDownPreamble();
    CScintillaCtrl::inputMethodEvent(e);
}

void CTalvexPipe::RecallHistory(int step)
{
    const qsizetype count = m_history.size();
    SetSel(m_nInputStart, GetLength());
    m_nHistoryIndex += step;
    if (m_nHistoryIndex < 0)
        m_nHistoryIndex = static_cast<int>(count - 1);
    else if (m_nHistoryIndex >= count)
        m_nHistoryIndex = 0;
    ReplaceSel(m_history.at(m_nHistoryIndex));
}

void CTalvexPipe::SendInputLine()
{
    const Pos length = GetLength();
    const Pos start = qBound<Pos>(0, m_nInputStart, length);
    QByteArray line = GetTextRange(start, length);
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1) == '\n' || line.at(end - 1) == '\r'))
        --end;
    line.truncate(end);

    if (!line.isEmpty())
        m_history.append(line);
    m_nHistoryIndex = static_cast<int>(m_history.size());
    GotoPos(length);

    // The console already shows the line end, so the line feed that usually opens Lisp's answer
    // is dropped. Set before writing: the answer cannot be shown before this point anyway.
    m_bSkipNewline.store(true);
    m_nInputStart = -1;
    std::string text(line.constData(), static_cast<size_t>(line.size()));
    text += '\n';
    WriteToLisp(text);
}

// --- Paste and context menu -----------------------------------------------------------------

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
    // Characters go in where the caret is (pasted text passes no key preamble). A run of
    // ordinary characters is inserted in one piece, which is what inserting them one by one
    // does, and never splits a multi-byte sequence. Each line end (LF, CR LF or a lone CR) acts
    // like one typed Enter: line end at the document's end, then the input line is sent.
    const qsizetype size = text.size();
    qsizetype runStart = 0;
    auto insertRun = [&](qsizetype runEnd) {
        if (runEnd <= runStart)
            return;
        if (m_nInputStart < 0)
            m_nInputStart = GetCurrentPos();
        ReplaceSel(text.mid(runStart, runEnd - runStart));
    };
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text.at(i);
        if (c != '\n' && c != '\r')
            continue;
        insertRun(i);
        if (c == '\r' && i + 1 < size && text.at(i + 1) == '\n')
            ++i;
        runStart = i + 1;
        if (m_nInputStart < 0)
            m_nInputStart = GetCurrentPos();
        GotoPos(GetLength());
        NewLine();
        SendInputLine();
    }
    insertRun(size);
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
