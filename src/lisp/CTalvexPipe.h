// The console pane: a Scintilla control that shows the Lisp process's output and takes input lines.
#pragma once

#include "editor/CScintillaCtrl.h"
#include "lisp/CRedirector.h"

#include <QByteArray>
#include <QList>

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

    Pos m_nInputStart = -1;        // document position where the current input begins; -1 unset
    QList<QByteArray> m_history;   // lines sent with Enter, oldest first, only non-empty ones
    int m_nHistoryIndex = 0;       // entry last recalled, or the count right after a send
    std::atomic<bool> m_bDrainPosted{false}; // a drain is queued and has not started yet
    // Output of a large hand-over that follows in later UI events, so that a key typed during a
    // flood waits for one piece at most. Always shown before anything newer.
    QByteArray m_backlog;
    bool m_bSliceOutput = false;   // the hand-over being appended may be split (posted drains only)
};
