// Loading and saving the document file of an editor view.
#include "editor/CTalvexView.h"

#include "editor/CDocumentFile.h"

#include <QByteArrayView>
#include <QMessageBox>

#include <algorithm>
#include <new>

namespace {

// Bytes of the longest line of text, whose lines end in lineEnd (or in CR LF, ending in LF).
CScintillaCtrl::Pos LongestLine(QByteArrayView text, char lineEnd)
{
    qsizetype longest = 0;
    for (qsizetype start = 0; start <= text.size();) {
        qsizetype end = text.indexOf(lineEnd, start);
        if (end < 0)
            end = text.size();
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    return longest;
}

} // namespace

// 1 on success (an empty path loads nothing and succeeds), 0 when the file cannot be read or is
// too large to hold in memory; then the view is unchanged, or empty when the text did not fit
// after all. The text arrives with its line ends in the view's mode, the caret at the start, not
// modified, and the load cannot be undone.
int CTalvexView::LoadFile(const QString &path)
{
    if (path.isEmpty())
        return 1;
    QByteArray data;
    QString error;
    if (!CDocumentFile::Read(path, data, error))
        return 0;

    // One transfer with undo collection off: the load is not undoable, so recording it would only
    // cost time and a copy of the whole text.
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    SendScintilla(SCI_SETSTATUS, static_cast<unsigned long>(SC_STATUS_OK));
    bool held = true;
    try {
        data = CDocumentFile::ConvertLineEnds(data, GetEOLMode());
        FitWrapToLines(LongestLine(data, GetEOLMode() == SC_EOL_CR ? '\r' : '\n'));
        SetText(data);
        LearnDefinitions(data);
        data = QByteArray();
        SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
        SetSavePoint();
        // The first screen is styled before the caret goes to the start, which lays out the
        // first line (a failure to hold that layout shows in the status below). Laid out
        // unstyled, a long line is one run of text that is measured piece by piece, many times
        // slower than the lexer's short tokens, and is laid out again once styled.
        const int lastShown = std::min(GetLineCount(), static_cast<int>(SendScintilla(SCI_LINESONSCREEN)) + 1);
        Colourise(0, GetLineEndPosition(lastShown - 1));
        GotoPos(0);
        EmptyUndoBuffer();
        held = SendScintilla(SCI_GETSTATUS) == SC_STATUS_OK;
    } catch (const std::bad_alloc &) {
        held = false;
    }
    if (!held) {
        // Whatever part of the text arrived goes again, with its memory.
        data = QByteArray();
        SendScintilla(SCI_CLEARALL);
        FitWrapToLines(0);
        SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
        EmptyUndoBuffer();
        SetSavePoint();
        SendScintilla(SCI_SETSTATUS, static_cast<unsigned long>(SC_STATUS_OK));
        return 0;
    }
    m_strPath = path;
    return 1;
}

// 1 when the whole text is safely on disk at path, 0 otherwise: then "Save failed" has been
// shown, the file on disk is as it was, and text, path and modified state are unchanged.
int CTalvexView::SaveFile(const QString &path)
{
    QString error;
    const QByteArray text = GetText();
    if (!CDocumentFile::Write(path, text, error)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Talvex"), QStringLiteral("Save failed"),
                        QMessageBox::Ok, this);
        box.setInformativeText(error);
        box.exec();
        return 0;
    }
    SetSavePoint();
    m_strPath = path;
    LearnDefinitions(text);
    return 1;
}

void CTalvexView::SetRecoveredText(const QByteArray &text)
{
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    SetText(text);
    SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
    EmptyUndoBuffer();
    // Scintilla's document is modified whenever its undo position differs from its save point.
    // Two steps that change no text put the save point where no undo or redo can reach it:
    // a step and a save point, then undo, then a new step, which drops the save point for good
    // (it lay on the discarded branch), and undo again.
    SendScintilla(SCI_ADDUNDOACTION, 0UL, 0L);
    SetSavePoint();
    Undo();
    SendScintilla(SCI_ADDUNDOACTION, 0UL, 0L);
    Undo();
    GotoPos(0);
}
