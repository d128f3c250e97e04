// Tests of the console's output model without a widget: its edits applied to a plain text.
#include "lisp/CConsoleOutput.h"

#include <QTest>

#include <string>

namespace {

// The console's text as the widget would hold it after the model's edits.
struct Screen
{
    CConsoleOutput model;
    std::string text;

    void Apply(CConsoleOutput::Edits &edits)
    {
        for (const CConsoleOutput::Edit &edit : edits)
            text.replace(size_t(edit.start), size_t(edit.end - edit.start), edit.text);
        edits.clear();
    }
    void Output(const std::string &data)
    {
        CConsoleOutput::Edits edits;
        model.Output(data, edits);
        Apply(edits);
    }
    void Type(const std::string &typed)
    {
        if (model.InputStart() < 0)
            model.StartInput(std::string_view(text).substr(size_t(model.OutputEnd())));
        text += typed;
    }
    std::string Input() const { return text.substr(size_t(model.InputStart())); }
};

} // namespace

class TstConsoleOutput : public QObject
{
    Q_OBJECT

private slots:
    // A line left unsent when the user typed elsewhere stays shown; output goes after it and
    // before the new line, and the answer to a send loses its one leading line feed.
    void typedLinesAndOutput()
    {
        Screen s;
        s.Output("* ");
        s.Type("(left");
        s.model.StartInput(std::string_view(s.text).substr(size_t(s.model.OutputEnd())));
        s.Type("(+ 1 2)");
        s.Output("late\n");
        QCOMPARE(s.text, std::string("* (leftlate\n(+ 1 2)"));
        QCOMPARE(s.Input(), std::string("(+ 1 2)"));
        s.text += "\n";
        s.model.InputSent(std::string_view(s.text).substr(size_t(s.model.InputStart())));
        s.model.ExpectAnswer();
        s.Output("\n3\n");
        QCOMPARE(s.text, std::string("* (leftlate\n(+ 1 2)\n3\n"));
        QCOMPARE(s.model.InputStart(), CConsoleOutput::Pos(-1));
    }

    // Past the limit the oldest whole lines go, a marker line says how much, the typed line is
    // never touched, and nothing else is lost.
    void trimKeepsInputAndWholeLines()
    {
        Screen s;
        s.model.SetLimit(64 << 10);
        s.Type("(typed)");
        std::string all;
        for (int i = 0; i < 20000; ++i) {
            const std::string line = "line " + std::to_string(i) + "\n";
            all += line;
            s.Output(line);
        }
        QVERIFY(s.text.size() <= size_t(64 << 10) + 7);
        QCOMPARE(s.Input(), std::string("(typed)"));
        const size_t markerEnd = s.text.find('\n') + 1;
        QVERIFY(s.text.starts_with("[\xE2\x80\xA6 "));
        QVERIFY(s.text.substr(0, markerEnd).ends_with(" KB of earlier output dropped]\n"));
        const std::string kept = s.text.substr(markerEnd, size_t(s.model.InputStart()) - markerEnd);
        QVERIFY(kept.starts_with("line "));
        QCOMPARE(std::int64_t(all.size() - kept.size()), s.model.Dropped());
        QVERIFY(all.ends_with(kept));
    }

    // A flood taken as the console takes it, one event at a time: a trim of megabytes goes in
    // steps short enough for a key to be served between them (at the cost a byte of short lines,
    // later steps shrink to a few milliseconds), the text never passes the limit, and what is
    // dropped is exactly what the marker counts.
    void floodTrimmedInSteps()
    {
        constexpr std::int64_t limit = 16 << 20;
        Screen s;
        s.model.SetLimit(limit);
        std::string line(79, 'x');
        line += '\n';
        std::int64_t total = 0;
        int trims = 0;
        size_t longest = 0;
        CConsoleOutput::Edits edits;
        constexpr std::chrono::nanoseconds perByte(8);
        bool stepping = false;
        while (total < 3 * limit) {
            const size_t piece = s.model.PieceBytes();
            if (s.model.Trim(piece, edits)) {
                ++trims;
                std::int64_t dropped = 0;
                for (const CConsoleOutput::Edit &edit : edits)
                    dropped += edit.end - edit.start;
                QVERIFY2(dropped <= (9 << 20) / 8, qPrintable(QString::number(dropped)));   // about a megabyte
                if (stepping)
                    QVERIFY2(dropped * perByte <= std::chrono::microseconds(2500), qPrintable(QString::number(dropped)));
                s.Apply(edits);
                s.model.TrimStepShown(dropped * perByte);
                stepping = true;
            } else {
                stepping = false;
                std::string data;
                while (data.size() + line.size() <= piece)
                    data += line;
                total += std::int64_t(data.size());
                s.Output(data);
                s.model.PieceShown(data.size(), std::chrono::microseconds(500));
            }
            longest = std::max(longest, s.text.size());
        }
        QVERIFY(longest <= size_t(limit));
        QVERIFY(trims >= 8);
        const size_t markerEnd = s.text.find('\n') + 1;
        QVERIFY(s.text.substr(0, markerEnd).ends_with(" MB of earlier output dropped]\n"));
        QCOMPARE(s.model.Dropped() + std::int64_t(s.text.size() - markerEnd), total);
        QVERIFY(s.text.size() >= size_t(limit / 2));
    }

    // Pieces follow what showing them costs: smaller when slow, larger when quick, never past
    // an eighth of the limit.
    void piecesSizedByTime()
    {
        CConsoleOutput model;
        model.SetLimit(16 << 20);
        const size_t first = model.PieceBytes();
        model.PieceShown(first, std::chrono::milliseconds(30));
        const size_t slow = model.PieceBytes();
        QVERIFY2(slow < first / 4, qPrintable(QString::number(slow)));
        for (int i = 0; i < 20; ++i)
            model.PieceShown(model.PieceBytes(), std::chrono::microseconds(50));
        QVERIFY(model.PieceBytes() > first);
        QVERIFY(model.PieceBytes() <= size_t(2 << 20));
    }
};

QTEST_APPLESS_MAIN(TstConsoleOutput)
#include "tst_consoleoutput.moc"
