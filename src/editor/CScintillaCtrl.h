// The thin wrapper through which all code talks to a Scintilla control: one member per message.
#pragma once

#include <Qsci/qsciscintillabase.h>
#include <QByteArray>
#include <QFont>

#include <cstdint>

class QKeyEvent;

// Base of both Scintilla windows (editor views and the console). Text is bytes: every transfer
// goes by length, so NUL bytes pass through unharmed. Positions are byte offsets from 0.
class CScintillaCtrl : public QsciScintillaBase
{
    Q_OBJECT

public:
    explicit CScintillaCtrl(QWidget *parent = nullptr);
    ~CScintillaCtrl() override;

    using Pos = intptr_t;

    // QScintilla takes a text argument after a uintptr_t; where long has 32 bits (Windows), a call
    // with unsigned long before the text would be ambiguous. This overload takes it as written
    // (on other systems it is the same signature, and stands in for QScintilla's).
    using QsciScintillaBase::SendScintilla;
    long SendScintilla(unsigned int msg, unsigned long wParam, const char *lParam) const
    {
        return QsciScintillaBase::SendScintilla(msg, static_cast<uintptr_t>(wParam), lParam);
    }

    // --- Messages the program sends, one member each -------------------------------------
    Pos GetLength() const { return SendScintilla(SCI_GETLENGTH); }
    int GetCharAt(Pos pos) const { return static_cast<int>(SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(pos))); }
    Pos GetCurrentPos() const { return SendScintilla(SCI_GETCURRENTPOS); }
    void Redo() { SendScintilla(SCI_REDO); }
    void Undo() { SendScintilla(SCI_UNDO); }
    void Cut() { SendScintilla(SCI_CUT); }
    void Copy() { SendScintilla(SCI_COPY); }
    void Paste() { SendScintilla(SCI_PASTE); }
    void SetSavePoint() { SendScintilla(SCI_SETSAVEPOINT); }
    void GotoPos(Pos pos) { SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(pos)); }
    void ConvertEOLs(int mode) { SendScintilla(SCI_CONVERTEOLS, static_cast<unsigned long>(mode)); }
    int GetEOLMode() const { return static_cast<int>(SendScintilla(SCI_GETEOLMODE)); }
    void SetEOLMode(int mode) { SendScintilla(SCI_SETEOLMODE, static_cast<unsigned long>(mode)); }
    void SetTabWidth(int columns) { SendScintilla(SCI_SETTABWIDTH, static_cast<unsigned long>(columns)); }
    int GetTabWidth() const { return static_cast<int>(SendScintilla(SCI_GETTABWIDTH)); }
    void StyleClearAll() { SendScintilla(SCI_STYLECLEARALL); }
    void StyleSetFore(int style, int colour) { SendScintilla(SCI_STYLESETFORE, static_cast<unsigned long>(style), static_cast<long>(colour)); }
    void StyleSetBack(int style, int colour) { SendScintilla(SCI_STYLESETBACK, static_cast<unsigned long>(style), static_cast<long>(colour)); }
    int StyleGetFore(int style) const { return static_cast<int>(SendScintilla(SCI_STYLEGETFORE, static_cast<unsigned long>(style))); }
    int StyleGetBack(int style) const { return static_cast<int>(SendScintilla(SCI_STYLEGETBACK, static_cast<unsigned long>(style))); }
    void StyleSetSize(int style, int points) { SendScintilla(SCI_STYLESETSIZE, static_cast<unsigned long>(style), static_cast<long>(points)); }
    int StyleGetSize(int style) const { return static_cast<int>(SendScintilla(SCI_STYLEGETSIZE, static_cast<unsigned long>(style))); }
    void StyleSetFont(int style, const QByteArray &face) { SendScintilla(SCI_STYLESETFONT, static_cast<unsigned long>(style), face.constData()); }
    void ClearCmdKey(int keyDefinition) { SendScintilla(SCI_CLEARCMDKEY, static_cast<unsigned long>(keyDefinition)); }
    void SetUseTabs(bool useTabs) { SendScintilla(SCI_SETUSETABS, static_cast<unsigned long>(useTabs ? 1 : 0)); }
    bool GetUseTabs() const { return SendScintilla(SCI_GETUSETABS) != 0; }
    Pos GetSelectionStart() const { return SendScintilla(SCI_GETSELECTIONSTART); }
    Pos GetSelectionEnd() const { return SendScintilla(SCI_GETSELECTIONEND); }
    bool GetModify() const { return SendScintilla(SCI_GETMODIFY) != 0; }
    void SetSel(Pos anchor, Pos caret) { SendScintilla(SCI_SETSEL, static_cast<unsigned long>(anchor), static_cast<long>(caret)); }
    void EmptyUndoBuffer() { SendScintilla(SCI_EMPTYUNDOBUFFER); }
    Pos GetTextLength() const { return SendScintilla(SCI_GETTEXTLENGTH); }
    void SetMarginWidthN(int margin, int pixels) { SendScintilla(SCI_SETMARGINWIDTHN, static_cast<unsigned long>(margin), static_cast<long>(pixels)); }
    int TextWidth(int style, const QByteArray &text) const { return static_cast<int>(SendScintilla(SCI_TEXTWIDTH, static_cast<unsigned long>(style), text.constData())); }
    int GetMarginWidthN(int margin) const { return static_cast<int>(SendScintilla(SCI_GETMARGINWIDTHN, static_cast<unsigned long>(margin))); }
    void SetWrapMode(int mode) { SendScintilla(SCI_SETWRAPMODE, static_cast<unsigned long>(mode)); }
    void NewLine() { SendScintilla(SCI_NEWLINE); }
    void BraceHighlight(Pos a, Pos b) { SendScintilla(SCI_BRACEHIGHLIGHT, static_cast<unsigned long>(a), static_cast<long>(b)); }
    void BraceBadLight(Pos pos) { SendScintilla(SCI_BRACEBADLIGHT, static_cast<unsigned long>(pos)); }
    Pos BraceMatch(Pos pos) const { return SendScintilla(SCI_BRACEMATCH, static_cast<unsigned long>(pos)); }
    void SetLexer(int lexer) { SendScintilla(SCI_SETLEXER, static_cast<unsigned long>(lexer)); }
    void SetKeyWords(int set, const char *words) { SendScintilla(SCI_SETKEYWORDS, static_cast<unsigned long>(set), words); }
    void SetCodePage(int codePage) { SendScintilla(SCI_SETCODEPAGE, static_cast<unsigned long>(codePage)); }
    void SetModEventMask(int mask) { SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(mask)); }
    int GetStyleAt(Pos pos) const { return static_cast<int>(SendScintilla(SCI_GETSTYLEAT, static_cast<unsigned long>(pos))); }
    void Colourise(Pos start, Pos end) { SendScintilla(SCI_COLOURISE, static_cast<unsigned long>(start), static_cast<long>(end)); }
    void SetReadOnly(bool readOnly) { SendScintilla(SCI_SETREADONLY, static_cast<unsigned long>(readOnly ? 1 : 0)); }
    void SetTargetRange(Pos start, Pos end) { SendScintilla(SCI_SETTARGETSTART, static_cast<unsigned long>(start)); SendScintilla(SCI_SETTARGETEND, static_cast<unsigned long>(end)); }
    Pos GetTargetStart() const { return SendScintilla(SCI_GETTARGETSTART); }
    Pos GetTargetEnd() const { return SendScintilla(SCI_GETTARGETEND); }
    void SetSearchFlags(int flags) { SendScintilla(SCI_SETSEARCHFLAGS, static_cast<unsigned long>(flags)); }
    Pos SearchInTarget(const QByteArray &text) { return SendScintilla(SCI_SEARCHINTARGET, static_cast<unsigned long>(text.size()), text.constData()); }
    void ScrollCaret() { SendScintilla(SCI_SCROLLCARET); }
    int GetLineCount() const { return static_cast<int>(SendScintilla(SCI_GETLINECOUNT)); }
    int LineFromPosition(Pos pos) const { return static_cast<int>(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(pos))); }
    Pos PositionFromLine(int line) const { return SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line)); }
    Pos GetLineEndPosition(int line) const { return SendScintilla(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line)); }
    Pos GetLineIndentPosition(int line) const { return SendScintilla(SCI_GETLINEINDENTPOSITION, static_cast<unsigned long>(line)); }
    Pos GetAnchor() const { return SendScintilla(SCI_GETANCHOR); }
    int GetCodePage() const { return static_cast<int>(SendScintilla(SCI_GETCODEPAGE)); }
    void BeginUndoAction() { SendScintilla(SCI_BEGINUNDOACTION); }
    void EndUndoAction() { SendScintilla(SCI_ENDUNDOACTION); }

    // Text transfers, all by length.
    QByteArray GetText() const;                       // SCI_GETTEXT, the whole document
    QByteArray GetTextRange(Pos start, Pos end) const; // SCI_GETTEXTRANGE
    void SetText(const QByteArray &text);             // SCI_CLEARALL + SCI_ADDTEXT (keeps NUL bytes)
    void Allocate(Pos bytes);                         // SCI_ALLOCATE: text and style buffers of at least bytes
    void AppendText(const char *data, Pos length);    // SCI_APPENDTEXT
    void AppendText(const QByteArray &text) { AppendText(text.constData(), text.size()); }
    void InsertText(Pos pos, const char *data, Pos length); // at pos, by length (target replace)
    void AddText(const QByteArray &text);             // SCI_ADDTEXT at the caret
    void ReplaceSel(const QByteArray &text);          // SCI_REPLACESEL, by length (target replace)
    Pos ReplaceTarget(const QByteArray &text);        // SCI_REPLACETARGET

    // --- Behaviour shared by the editor views and the console -----------------------------
    // The SCN_UPDATEUI handler: highlights the bracket before the caret and its partner, and
    // recomputes m_bSendable (through SendableState). Returns 0, the notification's result.
    int HighlightBraces();
    // The selected text (empty when nothing is selected), NUL bytes included.
    QByteArray GetSelText() const;
    // The shared Lisp set-up: lexer, margins, tabs, font, style colours, keywords.
    void ApplyLispSetup();
    // Gives the Lisp styles (the colour table's styles) the face and point size of font.
    void SetLispFont(const QFont &font);

    // Clipboard and undo commands sent to the focus window. Default: the SCI_ message.
    virtual void OnEditCut();
    virtual void OnEditCopy();
    virtual void OnEditPaste();
    virtual void OnEditUndo();
    virtual void OnEditRedo();

    bool IsSendable() const { return m_bSendable; }
    const QFont &Font() const { return m_font; }

protected:
    // The sendable state after a highlight pass: here, as the highlighter found it (a selection,
    // or a bracket with its match before the caret). Editor views ask their Lisp reader instead.
    virtual bool SendableState(bool bracketRule) const { return bracketRule; }

    // A key with Alt held goes to Scintilla's key map without its text: it runs a bound command
    // (Alt+Shift+arrows select a rectangle) but never types a character.
    void keyPressEvent(QKeyEvent *e) override;

    bool m_bSendable = false;
    QFont m_font; // the font given to the Lisp styles by ApplyLispSetup
};
