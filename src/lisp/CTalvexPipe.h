// The console pane: a Scintilla control that shows the Lisp process's output and takes input lines.
#pragma once

#include "editor/CScintillaCtrl.h"
#include "lisp/CConsoleOutput.h"
#include "lisp/CRedirector.h"
#include "lisp/LispDialect.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QTimer>

#include <atomic>
#include <cstddef>
#include <string>

class QContextMenuEvent;
class QInputMethodEvent;
class QKeyEvent;

// Shows everything the Lisp process writes and works as a line terminal: the user types at the end
// of the text and Enter sends the line (with a history on Up/Down). The console owns the Lisp
// process; its destruction ends the process tree.
//
// Output takes one road: the redirector's I/O thread reads and says that output waits; one take
// at a time is posted to the UI thread, which takes a piece (sized by what the last pieces cost),
// lets the output model turn it into edits and applies them. A key typed during a flood waits for
// one piece at most. The rules of what is shown where live in the model (CConsoleOutput).
class CTalvexPipe : public CScintillaCtrl
{
    Q_OBJECT

public:
    explicit CTalvexPipe(QWidget *parent = nullptr);
    ~CTalvexPipe() override;

    // Once after creation, after the command line is set and before StartLisp: the shared Lisp
    // set-up, no margins, display lines broken at the width, no undo history, the output limit
    // from "ConsoleLimit" (megabytes, 0 = none, default 16), and the keyword set from
    // "KeywordSet", which names the dialect of a Lisp whose program Talvex does not know.
    void ConfigureConsole();
    // The dialect of the Lisp that runs (or ran last): chosen at every start from the program's
    // name, else from the keyword set read by ConfigureConsole.
    const LispDialect &Dialect() const { return *m_pDialect; }

    // --- The Lisp ------------------------------------------------------------------------------
    const std::string &CommandLine() const { return m_lisp.m_strCommandLine; }
    void SetCommandLine(const std::string &commandLine) { m_lisp.m_strCommandLine = commandLine; }
    bool StartLisp();
    void StopLisp();
    bool IsLispRunning() const { return m_lisp.IsLispRunning(); }
    // Whether Interrupt Lisp can stop a form now: a Lisp runs, and its dialect survives it.
    bool CanInterrupt() const { return IsLispRunning() && !Dialect().noInterrupt; }
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
    qint64 OutputLimit() const { return m_output.Limit(); }
    // Bytes of output dropped from the start so far.
    qint64 DroppedBytes() const { return m_output.Dropped(); }

    // The console's own paste: the clipboard's text goes to the input line, each line end acting
    // like a typed Enter. Cut and copy leave the display breaks out; cut never removes output.
    void OnEditPaste() override;
    void OnEditCut() override;
    void OnEditCopy() override;
    // The body of the paste for a given UTF-8 text. A large paste goes in over several UI events,
    // so the window stays responsive: keys that type while it lasts go after it, and the Lisp's
    // output shows once it is in.
    void PasteText(const QByteArray &text);
    // Whether a paste is still going in.
    bool IsPasting() const { return m_nPasted < m_paste.size(); }
    // The text between two positions without its display breaks.
    QByteArray PlainText(Pos start, Pos end) const;
    // Columns of a display line now: as many characters as the console's width shows.
    int DisplayColumns() const;

    // Input state, read by tests and by nothing else.
    Pos InputStart() const { return m_output.InputStart(); }
    const QList<QByteArray> &History() const { return m_history; }
    int HistoryIndex() const { return m_nHistoryIndex; }

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    // --- Output (CTalvexPipe.cpp) --------------------------------------------------------------
    // Posts a take unless one is queued and not yet started (any thread).
    void PostTake();
    // Runs on the UI thread for each posted take: one piece of output, or one trim.
    void TakePiece();
    // Shows all output waiting in the redirector now (UI thread).
    void FlushOutput();
    // Applies the model's edits to the text, keeping the caret in the typed line.
    void ApplyEdits();
    // True when the Lisp can take a line now; otherwise one line in the console says why not.
    bool CanTakeLine();
    // Writes text and a line feed to the Lisp.
    void WriteLine(const QByteArray &text);
    // The line that says a line was not sent: the Lisp's input is full.
    void ShowNotReading();
    // Output far beyond what the screen shows is not coloured by the lexer as it comes: only the
    // lines that end on screen are. What was passed over is coloured when it comes on screen.
    void PassOverHiddenOutput();
    void StyleVisible();

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
    // Inserts text with the display breaks the model gives it; returns the bytes inserted.
    Pos InsertBroken(Pos pos, const std::string_view &text, int column);
    // Marks the display breaks at the given offsets from start, so copying and sending skip them.
    void MarkBreaks(Pos start, const std::vector<CConsoleOutput::Pos> &breaks);
    // The input starts at the end of the text (what was typed before and not sent stays shown).
    void StartInputAtEnd();
    // Puts the next part of the paste in, for a few milliseconds; sends its lines as it goes.
    void PasteSome();

    int m_nKeywordSet = 0;         // as read at start-up
    const LispDialect *m_pDialect; // of the Lisp that runs
    CConsoleOutput m_output;       // what goes where in the text, and where the input starts
    CConsoleOutput::Edits m_edits; // scratch: the edits of one piece
    std::string m_taken;           // scratch: the output of one piece
    QList<QByteArray> m_history;   // lines sent with Enter, oldest first, only non-empty ones
    int m_nHistoryIndex = 0;       // entry last recalled, or the count right after a send
    std::atomic<bool> m_bTakePosted{false}; // a take is queued and has not started yet
    // The next piece of a flood, after a pause as long as the last piece took: the UI thread
    // spends at most half its time on output, and a key waits for one piece at most.
    QTimer m_takeTimer;
    QDeadlineTimer m_nextTake;     // no take before this; expired when there is no wait
    int m_nCharWidth = 8;          // pixels of a typical character of the console's font
    // The piece last shown, measured until its paint has ended.
    size_t m_nPieceBytes = 0;
    QElapsedTimer m_pieceTimer;
    // Output passed over by the lexer while it came (in the default style until seen); empty when
    // from >= to.
    Pos m_nUnstyledFrom = 0;
    Pos m_nUnstyledTo = 0;
    bool m_bRoomMade = false;      // the text's buffers were given room for the whole limit
    // The paste going in: m_paste from m_nPasted on is still to come.
    QByteArray m_paste;
    qsizetype m_nPasted = 0;
    QTimer m_pasteTimer;
    std::string m_broken;          // scratch: text with its display breaks
    std::vector<CConsoleOutput::Pos> m_breaks;
    // Last member: destroyed first, so the I/O thread is gone before anything it could reach.
    CRedirector m_lisp;
};
