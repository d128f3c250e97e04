// The console pane: a Scintilla control that shows the Lisp process's output and takes input lines.
#pragma once

#include "editor/CScintillaCtrl.h"
#include "lisp/CBufferReserve.h"
#include "lisp/CRedirector.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

class QContextMenuEvent;
class QInputMethodEvent;
class QKeyEvent;

// Shows everything the Lisp process writes and works as a line terminal: the user types at the end
// of the text and Enter sends the line (with a history on Up/Down). The console owns the Lisp
// process; its destruction ends the process tree.
//
// Output path: the I/O thread only says that output waits; one queued drain at a time is posted to
// the UI thread, which takes everything accumulated since the last drain and shows it in pieces of
// at most a quarter megabyte per UI event (a trim is an event of its own), so a key typed during a
// flood waits for one piece at most.
//
// Output is shown as written, with three exceptions that keep the console usable: output that
// arrives while the user is typing a line goes before that line, never into it; a line wider than
// the console is shown broken into display lines, as a terminal shows it (the breaks are marked,
// and copying or sending the text leaves them out); and beyond the output limit the oldest whole
// lines are dropped in large steps, with a first line that says how much was dropped.
class CTalvexPipe : public CScintillaCtrl
{
    Q_OBJECT

public:
    // Bounds of the columns of a display line, whatever the console's width.
    static constexpr int kDisplayColumnsMin = 20;
    static constexpr int kDisplayColumnsMax = 1024;

    explicit CTalvexPipe(QWidget *parent = nullptr);
    ~CTalvexPipe() override;

    // Once after creation, after the command line is set and before StartLisp: the shared Lisp
    // set-up, no margins, display lines broken at the width, no undo history, the output limit
    // from "ConsoleLimit" (megabytes, 0 = none, default 16), and the dialect from "KeywordSet":
    // newLISP framing for set 2, and a terminal as the Lisp's streams for newLISP and PicoLisp
    // (2 and 4), which prompt, answer at once and survive an error only on one.
    void ConfigureConsole();
    // The keyword set read by ConfigureConsole (0 before): it decides for the whole run how the
    // evaluation commands speak to the Lisp.
    int KeywordSet() const { return m_nKeywordSet; }

    // --- The Lisp ------------------------------------------------------------------------------
    const std::string &CommandLine() const { return m_lisp.m_strCommandLine; }
    void SetCommandLine(const std::string &commandLine) { m_lisp.m_strCommandLine = commandLine; }
    bool FramesCommands() const { return m_lisp.m_bFrameCommands; }
    bool StartLisp();
    void StopLisp();
    bool IsLispRunning() const { return m_lisp.IsLispRunning(); }
    // An evaluation command's text: a line break (under the one-shot rule), then text and a line
    // feed written to Lisp, whose first output then loses one leading line feed. When no Lisp
    // runs, one line says so instead and nothing is written.
    void SendToLisp(const QByteArray &text);
    // A line break, then the Lisp restarted (its whole tree ended first).
    void ResetLisp();
    // The interrupt key for the running form, and a line saying it was sent.
    void InterruptLisp();

    // Shows one of the console's own messages after any output still waiting, on a line of its own.
    void ShowMessage(const QByteArray &text);

    // Output limit in bytes (0 = none); the oldest lines beyond it are dropped.
    void SetOutputLimit(qint64 bytes);
    qint64 OutputLimit() const { return m_nLimit; }
    // Bytes of output dropped from the start so far.
    qint64 DroppedBytes() const { return m_nDropped; }

    // The console's own paste: the clipboard's text goes to the input line, each line end acting
    // like a typed Enter. Cut and copy leave the display breaks out; cut never removes output.
    void OnEditPaste() override;
    void OnEditCut() override;
    void OnEditCopy() override;
    // The body of the paste for a given UTF-8 text.
    void PasteText(const QByteArray &text);
    // The text between two positions without its display breaks.
    QByteArray PlainText(Pos start, Pos end) const;
    // Columns of a display line now: as many characters as the console's width shows.
    int DisplayColumns() const;

    // Input state, read by tests and by nothing else.
    Pos InputStart() const { return m_nInputStart; }
    const QList<QByteArray> &History() const { return m_history; }
    int HistoryIndex() const { return m_nHistoryIndex; }

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    // --- Output (CTalvexPipe.cpp) --------------------------------------------------------------
    // The redirector's sink: applies the one-shot rule, then shows data in pieces.
    void AppendOutput(const char *data, size_t length);
    // Runs on the UI thread for each posted drain.
    void DrainPosted();
    // Shows the next piece of the backlog, or drops the oldest lines it needs room for.
    void ShowBacklogPiece();
    // Posts a drain unless one is queued and not yet started.
    void PostDrain();
    // Shows all output waiting in the redirector and in the backlog (UI thread).
    void FlushOutput();
    // Shows text where output goes: before the line being typed, or at the end. Drops the oldest
    // lines first when the limit would be passed, and breaks overlong lines for display.
    void InsertOutput(const char *data, size_t length);
    // Where output goes now: the start of the input line, or the end.
    Pos OutputEnd() const;
    // Whether incoming more bytes would pass the limit while there is output to drop.
    bool TrimDue(size_t incoming) const;
    // Drops whole lines from the start so that incoming more bytes keep the text within the limit;
    // false when there was nothing to drop.
    bool TrimFor(size_t incoming);
    // Inserts text at pos with display breaks in lines wider than the console; returns the bytes
    // inserted.
    Pos InsertBroken(Pos pos, const char *data, size_t length);
    // The line that says a send found no Lisp to take it.
    void ShowNotRunning();
    // Largest piece of output shown per UI event.
    size_t MaxPiece() const;

    // --- Input (CTalvexPipeInput.cpp) ----------------------------------------------------------
    // Makes sure the input has a start not after the selection end (moving to the end if not).
    void KeyDownPreamble();
    // Before text is typed, pasted or deleted: a selection that reaches into the output collapses
    // to the end, so no output is ever replaced.
    void KeepOutput();
    // After the line end of an Enter is in the document: sends the input line to Lisp.
    void SendInputLine();
    // Steps through the history (-1 back, +1 forward) and puts the entry in place of the input.
    void RecallHistory(int step);
    // Replaces the selection with text typed or pasted into the input line.
    void ReplaceInput(const QByteArray &text);

    int m_nKeywordSet = 0;         // the dialect, as read at start-up
    Pos m_nInputStart = -1;        // document position where the current input begins; -1 unset
    QList<QByteArray> m_history;   // lines sent with Enter, oldest first, only non-empty ones
    int m_nHistoryIndex = 0;       // entry last recalled, or the count right after a send
    // One-shot: the first output after a send loses one leading line feed, if it has one.
    bool m_bSkipNewline = false;
    std::atomic<bool> m_bDrainPosted{false}; // a drain is queued and has not started yet
    // Output of a large hand-over that follows in later UI events, so that a key typed during a
    // flood waits for one piece at most. Always shown before anything newer.
    QByteArray m_backlog;
    size_t m_nBacklogShown = 0;    // bytes of the backlog already shown
    bool m_bSliceOutput = false;   // the hand-over being shown may be split (posted drains only)
    int m_nCharWidth = 8;          // pixels of a typical character of the console's font
    qint64 m_nLimit = 0;           // output limit in bytes; 0 = none
    qint64 m_nDropped = 0;         // bytes dropped from the start so far
    Pos m_nMarkerLength = 0;       // length of the first line that says so; 0 = none
    std::vector<Pos> m_breaks;     // scratch: display breaks of one insertion
    QByteArray m_broken;           // scratch: text of one insertion with its breaks
    // Room for the whole output limit, given once, into memory made ready in the background.
    CBufferReserve m_reserve;
    bool m_bRoomGiven = false;
    // Last member: destroyed first, so the I/O thread is gone before anything it could reach.
    CRedirector m_lisp;
};
