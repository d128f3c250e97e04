// The console's output rules without a widget: where output goes, how it is broken, trimmed, paced.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// The console's text is the output region, from position 0, followed by the line being typed
// (from InputStart() on, when it is set). The model keeps that region's bookkeeping and turns
// output into edits of the text, which the widget applies in order:
// - the first output after a send loses one leading line feed, and only it;
// - output goes before the line being typed, never into it;
// - a line wider than the console is broken into display lines, as a terminal shows it; the
//   breaks are line feeds the Lisp never wrote, and their offsets go with the edit;
// - beyond the output limit the oldest whole lines go, a quarter of the limit at a time (in steps
//   of a few milliseconds each), replaced by one first line that says how much was dropped;
// - output is shown in pieces sized by the time the last pieces took, so that a key waits for one
//   piece at most.
// Everything that changes the output region goes through the model: output, the console's own
// messages, and typed text that joins it (a sent line, or one left behind unsent).
class CConsoleOutput
{
public:
    using Pos = std::intptr_t;

    // Replace the text from start to end (end == start: insert) by text.
    struct Edit
    {
        Pos start = 0;
        Pos end = 0;
        std::string_view text;        // valid until the list is emptied and given to the model again
        std::vector<Pos> breaks;      // offsets in text of the display breaks
    };
    using Edits = std::vector<Edit>;

    // Bounds of the columns of a display line, whatever the console's width.
    static constexpr int kColumnsMin = 20;
    static constexpr int kColumnsMax = 1024;

    CConsoleOutput();

    // Columns of a display line from now on (clamped to the bounds), and the tab width.
    void SetColumns(int columns, int tabWidth);
    int Columns() const { return m_nColumns; }
    // Output limit in bytes (0 = none), and whether the console shows UTF-8 (the marker's text).
    void SetLimit(std::int64_t bytes);
    std::int64_t Limit() const { return m_nLimit; }
    void SetUtf8(bool utf8) { m_bUtf8 = utf8; }
    // Bytes of output dropped from the start so far.
    std::int64_t Dropped() const { return m_nDropped; }

    // Where output goes now: the start of the typed line, or the end of the text.
    Pos OutputEnd() const { return m_nEnd; }
    // Start of the line being typed; -1 when none is.
    Pos InputStart() const { return m_nInputStart; }
    // A line starts being typed at the end of the text; what lies between the output end and there
    // (typed earlier and left unsent) joins the output as it is: `left`.
    void StartInput(std::string_view left);
    // The typed line, with its line end, was sent: it joins the output.
    void InputSent(std::string_view line);

    // The next occurrence of text in the Lisp's output, within its first few kilobytes, is not
    // shown: the answer to a form the console wrote itself. Empty: nothing is hidden.
    void HideOnce(std::string_view text);

    // One-shot: the first output after a send loses one leading line feed.
    void ExpectAnswer() { m_bSkipNewline = true; }
    bool ExpectsAnswer() const { return m_bSkipNewline; }

    // The Lisp's output: edits that show it where output goes, trimming first when due.
    void Output(std::string_view data, Edits &edits);
    // One of the console's own lines: on a line of its own, after all output; the one-shot rule
    // does not apply to it.
    void Message(std::string_view text, Edits &edits);
    // An evaluation command's text was sent: a line break, unless the last send is still
    // unanswered (two sends with no output between show one), then the one-shot rule.
    void CommandSent(Edits &edits);
    // The Lisp restarts: a line break, and nothing pending from the last send.
    void Restarted(Edits &edits);

    // Whether showing incoming more bytes must first drop old output. Once begun, a trim goes on
    // until the output is down to three quarters of the limit.
    bool TrimDue(std::size_t incoming) const;
    // One step of the trim, for incoming more bytes (each step is an event's work): false when
    // there is nothing to drop.
    bool Trim(std::size_t incoming, Edits &edits);
    // What applying the last step of a trim cost: later steps are sized by it.
    void TrimStepShown(std::chrono::nanoseconds cost);

    // Pieces: the bytes to show in the next UI event, and what showing the last piece cost
    // (insertion, layout and painting together).
    std::size_t PieceBytes() const;
    void PieceShown(std::size_t bytes, std::chrono::nanoseconds cost);
    // How long after a take of bytes that cost this much the next take waits (0: none): as long
    // again when more waits, so output has at most half the thread. When it took all there was,
    // output that comes in many small reads is gathered for a few milliseconds, so that each
    // paint shows more of it.
    std::chrono::nanoseconds WaitAfterTake(std::size_t bytes, std::chrono::nanoseconds cost, bool more) const;

    // Text broken into display lines as output would be, starting at the given column (for text
    // put into the typed line). Returns the column after it; broken and breaks stay empty when
    // the text needs no break.
    int Break(std::string_view data, int column, std::string &broken, std::vector<Pos> &breaks) const;
    // The display column after text that starts at the given column.
    int ColumnAfter(std::string_view text, int column) const;
    // The display column at the output end.
    int OutputColumn() const { return m_nColumn; }

private:
    // Shows data at the output end in chunks that a trim always makes room for.
    void Show(std::string_view data, Edits &edits);
    // Shows data at the output end (no trimming, no one-shot rule).
    void Insert(std::string_view data, Edits &edits);
    // Largest chunk shown at once: with a limit, an eighth of it, so one trim makes room for it.
    std::size_t ChunkMax() const;
    std::string &NewText();
    // Bookkeeping for text that joined the output region at its end.
    void Joined(std::string_view text);
    std::string DroppedMarker(std::int64_t bytes) const;
    Edit &NewEdit(Edits &edits);

    int m_nColumns = 80;
    int m_nTabWidth = 8;
    std::int64_t m_nLimit = 0;
    bool m_bUtf8 = true;
    std::int64_t m_nDropped = 0;
    Pos m_nMarkerLength = 0;       // length of the first line that says what was dropped; 0 = none
    Pos m_nTrimTo = -1;            // while a trim goes on, the output end it goes down to
    bool m_bTrimmed = false;       // a trim ended and no piece has been shown since
    Pos m_nStepDropped = 0;        // output dropped by the last step of a trim
    double m_dTrimNsPerByte = 0;   // measured cost of a trim step, 0 before the first

    Pos m_nEnd = 0;                // end of the output region
    Pos m_nInputStart = -1;
    int m_nColumn = 0;             // display column at the output end
    bool m_bAtLineStart = true;    // the output region is empty or ends in a line end
    bool m_bSkipNewline = false;

    // Line starts in the output region, at least kLineStep apart: where a trim may cut.
    std::deque<Pos> m_lineStarts;

    double m_dNsPerByte = 0;       // measured cost of showing output, 0 before the first piece

    std::string m_strHide;         // output to hide once; empty when none
    std::string m_strHeld;         // output held back while it may be the start of m_strHide
    std::string m_strFiltered;     // scratch: output with what is hidden taken out
    std::size_t m_nHideSeen = 0;   // output looked at since HideOnce

    // Text of the edits (each edit's text points into one of them, or into the caller's data);
    // a deque, so that a new one never moves the others. A call given an empty edits list starts
    // them over: an edit's text lasts until its list is emptied and given again.
    std::deque<std::string> m_texts;
    std::size_t m_nTextsUsed = 0;
};
