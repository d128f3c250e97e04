// The Lisp editor view of one document.
#pragma once

#include "editor/CDiskChangeBar.h"
#include "editor/CFileIdentity.h"
#include "editor/CScintillaCtrl.h"

#include <QString>

class QContextMenuEvent;
class QKeyEvent;
class QResizeEvent;

// A Scintilla control styled for Lisp with line numbers and bracket highlighting. Plain Enter
// inserts exactly the line end of the view's mode, and with Auto Indent on indents the new line
// (and the one it ends) as Indent Lines would; Shift+Enter and the keypad Enter send the text at
// the caret to Lisp through a SendToLispEvent to window(), or put a status tip there when there
// is nothing to send. All Lisp reading goes through the editor's reader in the dialect in use.
class CTalvexView : public CScintillaCtrl
{
    Q_OBJECT

public:
    explicit CTalvexView(QWidget *parent = nullptr);
    ~CTalvexView() override;

    // Run once right after creation: the shared Lisp set-up, the stored line-end mode, the
    // stored "AutoIndent", and the Enter keys taken away from Scintilla's key map.
    void ConfigureView();

    // Document files (implemented with the document commands): 1 on success, 0 on failure.
    // A file that holds a NUL byte is not text: its line ends stay as they are (HoldsBinary).
    // Both take the file's identity (Disk).
    int LoadFile(const QString &path);
    int SaveFile(const QString &path);
    // The file's new bytes, read at version, in place of the text as one undo step, with line ends
    // as LoadFile treats them. The caret keeps its line and the view its scroll; the document is
    // not modified afterwards, and one undo brings back the text it had.
    void ReloadText(const QByteArray &bytes, const platform::FileVersion &version);
    // What the document knows of its file on disk.
    CFileIdentity &Disk() { return m_disk; }
    const CFileIdentity &Disk() const { return m_disk; }
    // The file held a NUL byte when it was last read.
    bool HoldsBinary() const { return m_bBinary; }
    // The text of a journal recovered after a crash: shown modified, with an empty undo history,
    // so that neither undo nor redo can make it look saved. The caret goes to the start.
    void SetRecoveredText(const QByteArray &text);

    // Edit > Indent Lines: every line the selection touches (a selection that ends at the start
    // of a line does not touch that line), or the caret's line. One undo step.
    void IndentSelectedLines();

    void SetAutoIndent(bool on) { m_bAutoIndent = on; }
    bool AutoIndent() const { return m_bAutoIndent; }

    // The bar above the text about the file on disk: made when first shown, then kept.
    CDiskChangeBar &ShowDiskBar(CDiskChangeBar::Kind kind);
    void HideDiskBar();
    CDiskChangeBar *DiskBar() const { return m_pDiskBar; }
    bool IsDiskBarShown() const;

    QString m_strPath; // full path of the document's file; empty while untitled
    bool m_bDeletedOnDisk = false; // the file was found missing since it was last read or written

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    bool SendableState(bool bracketRule) const override;

private:
    // Shift+Enter / keypad Enter: hands the text at the caret to the top-level window.
    void SendTextAtCaret();
    // Plain Enter: the line end, then with Auto Indent the ended and the new line indented.
    void InsertNewLine();
    // A closing bracket typed first on its line puts the line where the bracket belongs.
    static bool IsClosingBracket(const QString &typed);
    void IndentAfterClosingBracket();
    // What the text read teaches the indenter about this document's macros.
    void LearnDefinitions(const QByteArray &text);

    // After each change and caret move: the line-number margin is 40 pixels, wider while the
    // document has more lines than five digits can number, so that no number loses its first
    // digits; and long lines are wrapped (see FitWrapToLines).
    void FitViewToText();
    // Lines longer than a few kilobytes are shown wrapped: then only one or two of them are on
    // the screen, and Scintilla lays out again every line on the screen after each key, as
    // lines of any length that end in another style than their line end. A line of many
    // megabytes is not wrapped, which would cost more than it saves.
    void FitWrapToLines(Pos longestLine);

    // The bar goes above the viewport, which Scintilla draws into, so it hides no text.
    void PlaceDiskBar();

    CFileIdentity m_disk;
    CDiskChangeBar *m_pDiskBar = nullptr; // a child of the view
    bool m_bBinary = false;
    int m_nMarginDigits = 0;  // digits the margin was last fitted to
    Pos m_nLongestLine = 0;   // bytes of the longest line seen since the text was loaded
    bool m_bWrapped = false;
    bool m_bAutoIndent = false;
};
