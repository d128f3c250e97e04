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

    QString m_strPath; // full path of the document's file; empty while untitled

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    // Shift+Enter / keypad Enter: hands the text at the caret to the top-level window.
    void SendTextAtCaret();
    // The line-number margin: 40 pixels, wider while the document has more lines than five
    // digits can number, so that no number loses its first digits.
    void FitLineNumberMargin();

    int m_nMarginDigits = 0; // digits the margin was last fitted to
};
