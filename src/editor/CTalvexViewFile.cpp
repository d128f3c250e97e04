// Loading and saving the document file of an editor view.
#include "editor/CTalvexView.h"

#include "editor/CDocumentFile.h"

#include <QByteArrayView>
#include <QMessageBox>
#include <QResizeEvent>

#include <algorithm>
#include <cstring>
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

// A NUL byte is never typed into Lisp source: a file with one is an image, a program, a text in
// UTF-16, whose CR bytes are data. Converting them would corrupt the file at the next save.
bool IsBinary(QByteArrayView bytes)
{
    return bytes.contains('\0');
}

// The length of the common start of a and b (forward), or of their common end (backward).
qsizetype CommonRun(QByteArrayView a, QByteArrayView b, bool forward)
{
    // Whole blocks by memcmp first, which is many times faster than a loop over bytes.
    constexpr qsizetype kBlock = 4096;
    const qsizetype shorter = std::min(a.size(), b.size());
    auto at = [forward](QByteArrayView v, qsizetype done, qsizetype length) {
        return v.constData() + (forward ? done : v.size() - done - length);
    };
    qsizetype done = 0;
    while (done + kBlock <= shorter && std::memcmp(at(a, done, kBlock), at(b, done, kBlock), kBlock) == 0)
        done += kBlock;
    while (done < shorter && *at(a, done, 1) == *at(b, done, 1))
        ++done;
    return done;
}

// Where the two texts differ: the lengths of their common start and end, not overlapping, and
// neither cutting a UTF-8 character in two.
std::pair<qsizetype, qsizetype> CommonEnds(QByteArrayView a, QByteArrayView b)
{
    auto isContinuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
    qsizetype head = CommonRun(a, b, true);
    while (head > 0 && ((head < a.size() && isContinuation(a[head])) || (head < b.size() && isContinuation(b[head]))))
        --head;
    qsizetype tail = CommonRun(a.sliced(head), b.sliced(head), false);
    while (tail > 0 && (isContinuation(a[a.size() - tail]) || isContinuation(b[b.size() - tail])))
        --tail;
    return {head, tail};
}

} // namespace

// 1 on success (an empty path loads nothing and succeeds), 0 when the file cannot be read or is
// too large to hold in memory; then the view is unchanged, or empty when the text did not fit
// after all. The text arrives with its line ends in the view's mode (a binary file's as they
// are), the caret at the start, not modified, and the load cannot be undone.
int CTalvexView::LoadFile(const QString &path)
{
    if (path.isEmpty())
        return 1;
    QByteArray data;
    QString error;
    platform::FileVersion version;
    if (!CDocumentFile::Read(path, data, error, &version))
        return 0;
    CFileIdentity identity;
    identity.Set(version, data);
    const bool binary = IsBinary(data);

    // One transfer with undo collection off: the load is not undoable, so recording it would only
    // cost time and a copy of the whole text.
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    SendScintilla(SCI_SETSTATUS, static_cast<unsigned long>(SC_STATUS_OK));
    bool held = true;
    try {
        if (!binary)
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
    m_disk = identity;
    m_bBinary = binary;
    return 1;
}

void CTalvexView::ReloadText(const QByteArray &bytes, const platform::FileVersion &version)
{
    const bool binary = IsBinary(bytes);
    const QByteArray text = binary ? bytes : CDocumentFile::ConvertLineEnds(bytes, GetEOLMode());
    // Scintilla's own text in one piece, valid until the next change: no copy of it is needed.
    const Pos oldLength = GetLength();
    const QByteArrayView old(static_cast<const char *>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER)), oldLength);
    const int caretLine = LineFromPosition(GetCurrentPos());
    const Pos caretColumn = GetCurrentPos() - PositionFromLine(caretLine);
    const int firstLine = static_cast<int>(SendScintilla(SCI_GETFIRSTVISIBLELINE));
    const int xOffset = static_cast<int>(SendScintilla(SCI_GETXOFFSET));

    // Only the part that differs is replaced: the undo step holds no more than that, and the
    // journal records no more.
    const auto [head, tail] = CommonEnds(old, text);
    if (head + tail < oldLength || head + tail < text.size()) {
        BeginUndoAction();
        SetTargetRange(head, oldLength - tail);
        ReplaceTarget(text.mid(head, text.size() - head - tail));
        EndUndoAction();
        FitWrapToLines(LongestLine(text, GetEOLMode() == SC_EOL_CR ? '\r' : '\n'));
        LearnDefinitions(text);
    }
    SetSavePoint();
    m_disk.Set(version, bytes);
    m_bBinary = binary;

    // The same line, the same column as far as the line reaches, without scrolling to it.
    const int line = std::min(caretLine, GetLineCount() - 1);
    const Pos caret = std::min(PositionFromLine(line) + caretColumn, GetLineEndPosition(line));
    SendScintilla(SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
    SendScintilla(SCI_SETFIRSTVISIBLELINE, static_cast<unsigned long>(firstLine));
    SendScintilla(SCI_SETXOFFSET, static_cast<unsigned long>(xOffset));
}

// 1 when the whole text is safely on disk at path, 0 otherwise: then "Save failed" has been
// shown, the file on disk is as it was, and text, path and modified state are unchanged.
int CTalvexView::SaveFile(const QString &path)
{
    QString error;
    const QByteArray text = GetText();
    platform::FileVersion version;
    if (!CDocumentFile::Write(path, text, error, &version)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Talvex"), QStringLiteral("Save failed"),
                        QMessageBox::Ok, this);
        box.setInformativeText(error);
        box.exec();
        return 0;
    }
    SetSavePoint();
    m_strPath = path;
    m_disk.Set(version, text);
    LearnDefinitions(text);
    return 1;
}

CDiskChangeBar &CTalvexView::ShowDiskBar(CDiskChangeBar::Kind kind)
{
    if (!m_pDiskBar)
        m_pDiskBar = new CDiskChangeBar(this); // a child, destroyed with the view
    m_pDiskBar->SetKind(kind);
    m_pDiskBar->show();
    PlaceDiskBar();
    return *m_pDiskBar;
}

void CTalvexView::HideDiskBar()
{
    if (!m_pDiskBar || m_pDiskBar->isHidden())
        return;
    m_pDiskBar->hide();
    PlaceDiskBar();
}

bool CTalvexView::IsDiskBarShown() const
{
    return m_pDiskBar && !m_pDiskBar->isHidden();
}

void CTalvexView::PlaceDiskBar()
{
    const int height = IsDiskBarShown() ? m_pDiskBar->sizeHint().height() : 0;
    setViewportMargins(0, height, 0, 0);
    if (height > 0) {
        const QRect inside = contentsRect();
        m_pDiskBar->setGeometry(inside.left(), inside.top(), inside.width(), height);
        m_pDiskBar->raise();
    }
}

void CTalvexView::resizeEvent(QResizeEvent *e)
{
    CScintillaCtrl::resizeEvent(e);
    if (IsDiskBarShown())
        PlaceDiskBar();
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
