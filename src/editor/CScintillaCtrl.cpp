// The Scintilla wrapper: text transfers by length, the bracket highlighter and the shared Lisp set-up.
#include "editor/CScintillaCtrl.h"

#include "editor/KeywordSets.h"
#include "editor/ScintillaAccessibility.h"
#include "settings/CSettingsStore.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QString>

namespace {

// Style numbers of Scintilla's Lisp lexer (QScintilla's header does not carry them).
enum LispStyle {
    SCE_LISP_DEFAULT = 0,
    SCE_LISP_COMMENT = 1,
    SCE_LISP_NUMBER = 2,
    SCE_LISP_KEYWORD = 3,
    SCE_LISP_KEYWORD_KW = 4,
    SCE_LISP_SYMBOL = 5,
    SCE_LISP_STRING = 6,
    SCE_LISP_STRINGEOL = 8,
    SCE_LISP_IDENTIFIER = 9,
    SCE_LISP_OPERATOR = 10,
    SCE_LISP_SPECIAL = 11,
    SCE_LISP_MULTI_COMMENT = 12,
};

// Foreground colours of the Lisp lexer's styles (0x00BBGGRR). Style 7 has no entry.
struct StyleColour
{
    int style;
    int colour;
};

constexpr StyleColour kLispColours[] = {
    {SCE_LISP_DEFAULT, 0xFF0000},
    {SCE_LISP_COMMENT, 0x808080},
    {SCE_LISP_NUMBER, 0x008000},
    {SCE_LISP_KEYWORD, 0xFF0000},
    {SCE_LISP_KEYWORD_KW, 0xFF0000},
    {SCE_LISP_SYMBOL, 0x0000FF},
    {SCE_LISP_STRING, 0xFF00FF},
    {SCE_LISP_STRINGEOL, 0xFF00FF},
    {SCE_LISP_IDENTIFIER, 0x000000},
    {SCE_LISP_OPERATOR, 0x0000FF},
    {SCE_LISP_SPECIAL, 0x0000FF},
    {SCE_LISP_MULTI_COMMENT, 0xFFFF00},
};

constexpr int kBraceLightBack = 0x00FF00; // matched pair on green
constexpr int kBraceBadBack = 0x0000FF;   // unmatched bracket on red

const QString &kSection = CSettingsStore::kSettings;

// True where the system's 8-bit encoding is UTF-8 (Linux, macOS, Windows with code page 65001).
bool SystemCodePageIsUtf8()
{
    const QString probe = QStringLiteral("\u00e9\u00df\u4e2d\u20ac");
    return probe.toLocal8Bit() == probe.toUtf8();
}

// The system's fixed-pitch font at its own size; a font without a point size gets one from
// its pixel size, so Scintilla never falls back to its 2-point minimum.
QFont SystemFixedFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (font.pointSize() <= 0) {
        const QFontInfo info(font);
        font.setPointSize(info.pointSize() > 0 ? info.pointSize() : 10);
    }
    return font;
}

// A stored "FontSize" as a positive number of tenths of a point, or 0 (absent) when it lies
// outside 1 to 400 points either way: the font dialog offers up to 72, and a larger value can
// only come from a damaged or hand-edited settings file (its magnitude may not even fit an int).
int StoredFontSize(int tenths)
{
    constexpr int kMinTenths = 10;
    constexpr int kMaxTenths = 4000;
    if (tenths < 0 && tenths >= -kMaxTenths)
        tenths = -tenths;
    return tenths >= kMinTenths && tenths <= kMaxTenths ? tenths : 0;
}

} // namespace

CScintillaCtrl::CScintillaCtrl(QWidget *parent) : QsciScintillaBase(parent)
{
    // No part of the program uses SCN_MODIFIED; with it masked, an insertion no longer pays
    // for the accessibility bookkeeping that counts characters from the start of the document.
    SetModEventMask(0);
    InstallScintillaAccessibility();
    SetCodePage(SystemCodePageIsUtf8() ? SC_CP_UTF8 : 0);
    connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, &CScintillaCtrl::HighlightBraces);
}

CScintillaCtrl::~CScintillaCtrl() = default;

QByteArray CScintillaCtrl::GetText() const
{
    return GetTextRange(0, GetLength());
}

QByteArray CScintillaCtrl::GetTextRange(Pos start, Pos end) const
{
    const Pos length = GetLength();
    start = qBound<Pos>(0, start, length);
    end = qBound<Pos>(start, end, length);
    if (end == start)
        return {};
    // SCI_GETTEXTRANGE copies the bytes by length and adds one NUL; NUL bytes inside survive.
    QByteArray buffer(end - start + 1, Qt::Uninitialized);
    SendScintilla(SCI_GETTEXTRANGE, static_cast<long>(start), static_cast<long>(end), buffer.data());
    buffer.chop(1);
    return buffer;
}

void CScintillaCtrl::SetText(const QByteArray &text)
{
    SendScintilla(SCI_CLEARALL);
    // Room for the text and some typing beyond it, so the first keys after loading a large
    // document do not reallocate (and copy) the whole buffer.
    const qsizetype headroom = qMax<qsizetype>(64 * 1024, text.size() / 8);
    Allocate(text.size() + headroom);
    // Insert through the target: by length, and the caret stays at the start as SCI_SETTEXT does.
    SetTargetRange(0, 0);
    ReplaceTarget(text);
}

void CScintillaCtrl::Allocate(Pos bytes)
{
    if (bytes > 0)
        SendScintilla(SCI_ALLOCATE, static_cast<unsigned long>(bytes));
}

void CScintillaCtrl::AppendText(const char *data, Pos length)
{
    if (length <= 0)
        return;
    SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(length), data);
}

void CScintillaCtrl::InsertText(Pos pos, const char *data, Pos length)
{
    if (length <= 0)
        return;
    if (pos >= GetLength()) {
        AppendText(data, length);
        return;
    }
    SetTargetRange(pos, pos);
    SendScintilla(SCI_REPLACETARGET, static_cast<unsigned long>(length), data);
}

void CScintillaCtrl::AddText(const QByteArray &text)
{
    if (text.isEmpty())
        return;
    SendScintilla(SCI_ADDTEXT, static_cast<unsigned long>(text.size()), text.constData());
}

void CScintillaCtrl::ReplaceSel(const QByteArray &text)
{
    // SCI_REPLACESEL stops at the first NUL; the target replacement goes by length.
    const Pos start = GetSelectionStart();
    SetTargetRange(start, GetSelectionEnd());
    ReplaceTarget(text);
    GotoPos(start + text.size());
}

CScintillaCtrl::Pos CScintillaCtrl::ReplaceTarget(const QByteArray &text)
{
    return SendScintilla(SCI_REPLACETARGET, static_cast<unsigned long>(text.size()), text.constData());
}

QByteArray CScintillaCtrl::GetSelText() const
{
    const Pos start = GetSelectionStart();
    const Pos end = GetSelectionEnd();
    if (end <= start)
        return {};
    // A plain selection is read by range, which keeps NUL bytes (SCI_GETSELTEXT turns them
    // into spaces). Only a rectangular or multiple selection, whose parts Scintilla joins with
    // line ends, goes through SCI_GETSELTEXT; its size includes the terminating NUL.
    if (SendScintilla(SCI_GETSELECTIONS) <= 1 && SendScintilla(SCI_SELECTIONISRECTANGLE) == 0)
        return GetTextRange(start, end);
    const long needed = SendScintilla(SCI_GETSELTEXT, 0UL, static_cast<void *>(nullptr));
    if (needed <= 0)
        return {};
    QByteArray buffer(needed + 1, '\0');
    SendScintilla(SCI_GETSELTEXT, 0UL, static_cast<void *>(buffer.data()));
    buffer.truncate(needed);
    while (!buffer.isEmpty() && buffer.endsWith('\0'))
        buffer.chop(1);
    return buffer;
}

int CScintillaCtrl::HighlightBraces()
{
    const Pos caret = GetCurrentPos();
    const int ch = caret > 0 ? GetCharAt(caret - 1) : 0;
    m_bSendable = false;
    if (ch == '(' || ch == ')' || ch == '[' || ch == ']' || ch == '{' || ch == '}') {
        const Pos match = BraceMatch(caret - 1);
        if (match >= 0) {
            BraceHighlight(caret - 1, match);
            m_bSendable = true;
        } else {
            BraceBadLight(caret - 1);
        }
    } else {
        BraceHighlight(-1, -1);
    }
    if (GetSelectionEnd() != GetSelectionStart())
        m_bSendable = true;
    m_bSendable = SendableState(m_bSendable);
    NotifyScintillaCaretMoved(this);
    return 0;
}

void CScintillaCtrl::ApplyLispSetup()
{
    CSettingsStore &settings = CSettingsStore::Instance();

    StyleClearAll();
    SetLexer(SCLEX_LISP);
    SetMarginWidthN(0, 40);
    SetMarginWidthN(1, 0);

    const int tabSize = settings.ReadInt(kSection, QStringLiteral("TabSize"), 0);
    SetTabWidth(tabSize > 0 ? tabSize : 4);
    if (settings.ReadInt(kSection, QStringLiteral("TabUsesSpaces"), 0) != 0)
        SetUseTabs(false);

    // "FontSize" is in tenths of a point; its sign is ignored. Without both a name and a size
    // the system's fixed-pitch font is used at its own size.
    const int fontSize = StoredFontSize(settings.ReadInt(kSection, QStringLiteral("FontSize"), 0));
    const QString fontName = settings.ReadString(kSection, QStringLiteral("FontName"), QString());
    QFont font;
    if (!fontName.isEmpty() && fontSize != 0) {
        font = QFont(fontName);
        font.setPointSizeF(fontSize / 10.0);
    } else {
        font = SystemFixedFont();
    }
    SetLispFont(font);

    const char *keywords = KeywordList(settings.ReadInt(kSection, QStringLiteral("KeywordSet"), 0));
    if (keywords != nullptr)
        SetKeyWords(0, keywords);

    StyleSetBack(STYLE_BRACELIGHT, kBraceLightBack);
    StyleSetBack(STYLE_BRACEBAD, kBraceBadBack);
}

void CScintillaCtrl::SetLispFont(const QFont &font)
{
    m_font = font;
    // Whole points as Scintilla takes them; never below one point.
    const int points = qMax(1, qRound(font.pointSizeF() > 0 ? font.pointSizeF() : 10.0));
    const QByteArray face = font.family().toUtf8();
    for (const StyleColour &entry : kLispColours) {
        StyleSetFore(entry.style, entry.colour);
        StyleSetFont(entry.style, face);
        StyleSetSize(entry.style, points);
    }
}

void CScintillaCtrl::keyPressEvent(QKeyEvent *e)
{
    bool altHeld = e->modifiers().testFlag(Qt::AltModifier);
#ifdef Q_OS_WIN
    // AltGr arrives as Ctrl+Alt there, and it types characters (@ or { on many layouts).
    if (e->modifiers().testFlag(Qt::ControlModifier))
        altHeld = false;
#endif
    if (!altHeld || e->text().isEmpty()) {
        QsciScintillaBase::keyPressEvent(e);
        return;
    }
    QKeyEvent withoutText(e->type(), e->key(), e->modifiers(), e->nativeScanCode(), e->nativeVirtualKey(),
                          e->nativeModifiers(), QString(), e->isAutoRepeat(), static_cast<quint16>(e->count()),
                          e->device());
    withoutText.setAccepted(false);
    QsciScintillaBase::keyPressEvent(&withoutText);
    e->setAccepted(withoutText.isAccepted());
}

void CScintillaCtrl::OnEditCut() { Cut(); }
void CScintillaCtrl::OnEditCopy() { Copy(); }
void CScintillaCtrl::OnEditPaste() { Paste(); }
void CScintillaCtrl::OnEditUndo() { Undo(); }
void CScintillaCtrl::OnEditRedo() { Redo(); }
