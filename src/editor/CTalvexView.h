// The Lisp editor view of one document.
#pragma once

#include "editor/CScintillaCtrl.h"

#include <QString>

class QContextMenuEvent;
class QKeyEvent;

// A Scintilla control styled for Lisp with line numbers and bracket highlighting. Plain Enter
// inserts exactly the line end of the view's mode (no indentation); Shift+Enter and the keypad
// Enter send the text at the caret to Lisp through a SendToLispEvent to window().
class CTalvexView : public CScintillaCtrl
{
    Q_OBJECT

public:
    explicit CTalvexView(QWidget *parent = nullptr);
    ~CTalvexView() override;

    // Run once right after creation: the shared Lisp set-up, the stored line-end mode, and the
    // Enter keys taken away from Scintilla's key map.
    void ConfigureView();

    // Document files (implemented with the document commands): 1 on success, 0 on failure.
    int LoadFile(const QString &path);
    int SaveFile(const QString &path);
    // The text of a journal recovered after a crash: shown modified, with an empty undo history,
    // so that neither undo nor redo can make it look saved. The caret goes to the start.
    void SetRecoveredText(const QByteArray &text);

    QString m_strPath; // full path of the document's file; empty while untitled

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    // Shift+Enter / keypad Enter: hands the text at the caret to the top-level window.
    void SendTextAtCaret();
    // After each change and caret move: the line-number margin is 40 pixels, wider while the
    // document has more lines than five digits can number, so that no number loses its first
    // digits; and long lines are wrapped (see FitWrapToLines).
    void FitViewToText();
    // Lines longer than a few kilobytes are shown wrapped: then only one or two of them are on
    // the screen, and Scintilla lays out again every line on the screen after each key, as
    // lines of any length that end in another style than their line end. A line of many
    // megabytes is not wrapped, which would cost more than it saves.
    void FitWrapToLines(Pos longestLine);

    int m_nMarginDigits = 0;  // digits the margin was last fitted to
    Pos m_nLongestLine = 0;   // bytes of the longest line seen since the text was loaded
    bool m_bWrapped = false;
};
