// The console pane: a Scintilla control that shows the Lisp process's output and takes input lines.
#pragma once

#include "editor/CBufferReserve.h"
#include "editor/CScintillaCtrl.h"
#include "lisp/CRedirector.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTimer>

#include <atomic>
#include <cstddef>

class QContextMenuEvent;
class QInputMethodEvent;
class QKeyEvent;

// Shows everything the Lisp process writes, appended at the end, and works as a line terminal:
// the user types at the end of the text and Enter sends the line (with a history on Up/Down).
//
// Output path: the reader thread only signals that output waits (OnOutputPending); one queued
// drain at a time is posted to the UI thread, which takes everything accumulated since the last
// drain and shows it as one append and one caret move (a hand-over of more than a megabyte is
// shown a megabyte per UI event). So output is kept in order, a flood never queues more than one
// event, and output lands between key events but never inside a paste.
//
// The console gives its text and style buffers room itself, a quarter more at each growth, and
// has the memory of the next growth made ready in the background once they are three quarters
// full; output that would grow them before that memory is ready waits (a second at most). A
// growth at 50 MB then costs a copy instead of tens of thousands of page faults, so keys typed
// during a flood are never held up for long.
class CTalvexPipe : public CScintillaCtrl, public CRedirector
{
    Q_OBJECT

public:
    explicit CTalvexPipe(QWidget *parent = nullptr);
    ~CTalvexPipe() override;

    // Once after creation, after m_strCommandLine is set and before StartLisp: the shared Lisp
    // set-up, no margins, word wrap, and newLISP framing when "KeywordSet" is 2.
    void ConfigureConsole();

    // UI thread: shows text at the end of the console after any output still waiting, under
    // the one-shot line-feed rule.
    void ShowText(const QByteArray &text);

    // The redirector's sink; runs on the UI thread. Appends data at the end (dropping one
    // leading line feed when m_bSkipNewline is set) and moves the caret to the end.
    void AppendOutput(const char *data, size_t length) override;

    // The console's own paste: the clipboard's text fed character by character through the
    // console's character handling, each line end acting like a typed Enter.
    void OnEditPaste() override;
    // The body of the paste for a given UTF-8 text.
    void PasteText(const QByteArray &text);

    // Input state, read by tests and by nothing else.
    Pos InputStart() const { return m_nInputStart; }
    const QList<QByteArray> &History() const { return m_history; }
    int HistoryIndex() const { return m_nHistoryIndex; }

    // One-shot: the next output chunk that begins with a line feed loses that line feed. Set by
    // the UI thread after a line was sent; tested and cleared where output is shown.
    std::atomic<bool> m_bSkipNewline{false};

protected:
    void OnOutputPending() override;

    void keyPressEvent(QKeyEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    // Makes sure the input has a start not after the selection end (moving to the end if not).
    void KeyDownPreamble();
    // After the line end of an Enter is in the document: sends the input line to Lisp.
    void SendInputLine();
    // Steps through the history (-1 back, +1 forward) and puts the entry in place of the input.
    void RecallHistory(int step);
    // Runs on the UI thread for each posted drain.
    void DrainPosted();
    // Posts a drain unless one is queued and not yet started.
    void PostDrain();
    // Appends all output held back from an earlier hand-over (UI thread).
    void FlushBacklog();
    // Appends output at the end and moves the caret there, giving the buffers room first.
    void AppendAtEnd(const char *data, size_t length);
    // Room the buffers need for length more bytes of output (and the typing beyond it).
    size_t RoomNeeded(size_t length) const;
    // Grows the buffers when length more bytes would not fit, and starts making the next growth's
    // memory ready when they are three quarters full.
    void MakeRoom(size_t length);
    // False while appending length bytes would grow the buffers before their reserve is ready
    // (for a second at most, then the growth goes ahead without it).
    bool RoomReady(size_t length);

    Pos m_nInputStart = -1;        // document position where the current input begins; -1 unset
    QList<QByteArray> m_history;   // lines sent with Enter, oldest first, only non-empty ones
    int m_nHistoryIndex = 0;       // entry last recalled, or the count right after a send
    std::atomic<bool> m_bDrainPosted{false}; // a drain is queued and has not started yet
    // Output of a large hand-over that follows in later UI events, so that a key typed during a
    // flood waits for one piece at most. Always shown before anything newer.
    QByteArray m_backlog;
    bool m_bSliceOutput = false;   // the hand-over being appended may be split (posted drains only)
    QTimer m_retryDrain;           // drains again while output waits for the reserve
    CBufferReserve m_reserve;      // memory for the next growth of the buffers, made ready early
    size_t m_nCapacity = 0;        // room the text and style buffers were last given
    QElapsedTimer m_reserveWait;   // valid while output waits for the reserve
    QTimer m_reserveKeep;          // gives back a reserve that output did not reach
};
