// A light accessible interface for the Scintilla controls, cheap in documents of any size.
#include "editor/ScintillaAccessibility.h"

#include <Qsci/qsciscintillabase.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>

// QScintilla's own interface converts between byte positions and character offsets by counting
// from the start of the document on every insertion and UI update. This one does nothing until
// an assistive technology asks, and then converts through Scintilla's per-line UTF-16 index, so a
// conversion costs one line's length instead of the document's.
namespace {

using Sci = QsciScintillaBase;

class CScintillaAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CScintillaAccessible(QsciScintillaBase *control)
        : QAccessibleWidget(control, QAccessible::EditableText), m_control(control)
    {
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !ReadOnly();
        s.readOnly = ReadOnly();
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    // Value of an editor is its text; asked only by assistive technologies.
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value && m_control)
            return Decode(0, Send(Sci::SCI_GETLENGTH));
        return QAccessibleWidget::text(t);
    }

    // --- QAccessibleTextInterface -----------------------------------------------------------
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !m_control)
            return;
        const long start = Send(Sci::SCI_GETSELECTIONSTART);
        const long end = Send(Sci::SCI_GETSELECTIONEND);
        if (start == end)
            return;
        *startOffset = ToOffset(start);
        *endOffset = ToOffset(end);
    }
    int selectionCount() const override
    {
        return m_control && Send(Sci::SCI_GETSELECTIONSTART) != Send(Sci::SCI_GETSELECTIONEND) ? 1 : 0;
    }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int) override
    {
        if (m_control)
            m_control->SendScintilla(Sci::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(Send(Sci::SCI_GETCURRENTPOS)));
    }
    void setSelection(int, int startOffset, int endOffset) override
    {
        if (m_control)
            m_control->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(ToPos(startOffset)), ToPos(endOffset));
    }
    int cursorPosition() const override { return m_control ? ToOffset(Send(Sci::SCI_GETCURRENTPOS)) : 0; }
    void setCursorPosition(int position) override
    {
        if (m_control)
            m_control->SendScintilla(Sci::SCI_GOTOPOS, static_cast<unsigned long>(ToPos(position)));
    }
    QString text(int startOffset, int endOffset) const override
    {
        if (!m_control || endOffset <= startOffset)
            return {};
        return Decode(ToPos(startOffset), ToPos(endOffset));
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset, int *endOffset) const override
    {
        if (!m_control || type != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAtOffset(offset, type, startOffset, endOffset);
        // A line is read from its own bytes, not from the whole document.
        const long line = Send(Sci::SCI_LINEFROMPOSITION, ToPos(offset));
        const long start = Send(Sci::SCI_POSITIONFROMLINE, line);
        const long end = Send(Sci::SCI_POSITIONFROMLINE, line + 1);
        *startOffset = ToOffset(start);
        *endOffset = ToOffset(end < 0 ? Send(Sci::SCI_GETLENGTH) : end);
        return Decode(start, end < 0 ? Send(Sci::SCI_GETLENGTH) : end);
    }
    int characterCount() const override { return m_control ? ToOffset(Send(Sci::SCI_GETLENGTH)) : 0; }
    QRect characterRect(int offset) const override
    {
        if (!m_control)
            return {};
        const long pos = ToPos(offset);
        const int x = static_cast<int>(Send(Sci::SCI_POINTXFROMPOSITION, 0, pos));
        const int y = static_cast<int>(Send(Sci::SCI_POINTYFROMPOSITION, 0, pos));
        const int h = static_cast<int>(Send(Sci::SCI_TEXTHEIGHT, Send(Sci::SCI_LINEFROMPOSITION, pos)));
        const long next = Send(Sci::SCI_POSITIONAFTER, pos);
        const int w = qMax(1, static_cast<int>(Send(Sci::SCI_POINTXFROMPOSITION, 0, next)) - x);
        const QPoint origin = m_control->viewport()->mapToGlobal(QPoint(x, y));
        return QRect(origin, QSize(w, h));
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        if (!m_control)
            return -1;
        const QPoint local = m_control->viewport()->mapFromGlobal(point);
        const long pos = Send(Sci::SCI_POSITIONFROMPOINTCLOSE, static_cast<unsigned long>(local.x()), local.y());
        return pos < 0 ? -1 : ToOffset(pos);
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        if (m_control)
            m_control->SendScintilla(Sci::SCI_SCROLLRANGE, static_cast<unsigned long>(ToPos(endIndex)), ToPos(startIndex));
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

    // Byte position -> UTF-16 offset, through the line index.
    int ToOffset(long pos) const
    {
        if (!Utf8())
            return static_cast<int>(pos);
        EnsureIndex();
        const long line = Send(Sci::SCI_LINEFROMPOSITION, pos);
        const long lineStart = Send(Sci::SCI_POSITIONFROMLINE, line);
        const long base = Send(Sci::SCI_INDEXPOSITIONFROMLINE, line, Sci::SC_LINECHARACTERINDEX_UTF16);
        return static_cast<int>(base + Send(Sci::SCI_COUNTCODEUNITS, lineStart, pos));
    }

private:
    long Send(unsigned int msg, long w = 0, long l = 0) const { return m_control->SendScintilla(msg, static_cast<unsigned long>(w), l); }
    bool Utf8() const { return Send(Sci::SCI_GETCODEPAGE) == Sci::SC_CP_UTF8; }
    bool ReadOnly() const { return m_control && Send(Sci::SCI_GETREADONLY) != 0; }

    // The index lives with the document and goes with it; it is not released here, because
    // Qt deletes this interface while the control is being destroyed.
    void EnsureIndex() const
    {
        if (m_bIndexed)
            return;
        m_control->SendScintilla(Sci::SCI_ALLOCATELINECHARACTERINDEX, Sci::SC_LINECHARACTERINDEX_UTF16);
        m_bIndexed = true;
    }

    // UTF-16 offset -> byte position.
    long ToPos(int offset) const
    {
        if (!Utf8())
            return offset;
        EnsureIndex();
        const long line = Send(Sci::SCI_LINEFROMINDEXPOSITION, offset, Sci::SC_LINECHARACTERINDEX_UTF16);
        const long lineStart = Send(Sci::SCI_POSITIONFROMLINE, line);
        const long base = Send(Sci::SCI_INDEXPOSITIONFROMLINE, line, Sci::SC_LINECHARACTERINDEX_UTF16);
        const long units = offset - base;
        const long pos = Send(Sci::SCI_POSITIONRELATIVECODEUNITS, lineStart, units);
        if (units > 0 && pos <= lineStart) {
            // Inside a surrogate pair (or past the end): the start of that character, or the end.
            const long before = Send(Sci::SCI_POSITIONRELATIVECODEUNITS, lineStart, units - 1);
            return before > lineStart || units == 1 ? before : Send(Sci::SCI_GETLENGTH);
        }
        return pos;
    }

    QString Decode(long start, long end) const
    {
        if (end <= start)
            return {};
        QByteArray bytes(end - start + 1, Qt::Uninitialized);
        m_control->SendScintilla(Sci::SCI_GETTEXTRANGE, start, end, bytes.data());
        bytes.chop(1);
        return Utf8() ? QString::fromUtf8(bytes) : QString::fromLocal8Bit(bytes);
    }

    QPointer<QsciScintillaBase> m_control;
    mutable bool m_bIndexed = false;
};

QAccessibleInterface *ScintillaFactory(const QString &, QObject *object)
{
    if (auto *control = qobject_cast<QsciScintillaBase *>(object))
        return new CScintillaAccessible(control); // owned by Qt's accessibility cache
    return nullptr;
}

} // namespace

void InstallScintillaAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(ScintillaFactory);
}

void NotifyScintillaCaretMoved(QsciScintillaBase *control)
{
    if (!QAccessible::isActive() || control == nullptr)
        return;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(control);
    auto *own = dynamic_cast<CScintillaAccessible *>(iface);
    if (own == nullptr)
        return;
    QAccessibleTextCursorEvent ev(control, own->ToOffset(control->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS)));
    QAccessible::updateAccessibility(&ev);
}
