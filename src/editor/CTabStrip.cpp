// The document tab strip: layout in wrapping rows, painting, hit-testing, tooltips, insert mark.
#include "editor/CTabStrip.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QToolTip>

namespace {

constexpr int kMargin = 2;      // space around the rows (the strip is rows x tab height + 4)
constexpr int kPadLeft = 6;     // tab edge to image
constexpr int kImageSize = 5;
constexpr int kImageGap = 4;    // image to text
constexpr int kPadRight = 8;    // text to tab edge
constexpr int kMarkHalfLeft = 4;  // insert mark runs from edge - 4 ...
constexpr int kMarkHalfRight = 3; // ... to edge + 3 (7 pixels)

// Image 0: bright green 3 x 3 centre with a dark green border; image 1 the same in red.
QPixmap MakeTabImage(const QColor &centre, const QColor &border)
{
    QImage img(kImageSize, kImageSize, QImage::Format_ARGB32);
    img.fill(border);
    for (int y = 1; y < kImageSize - 1; ++y)
        for (int x = 1; x < kImageSize - 1; ++x)
            img.setPixelColor(x, y, centre);
    return QPixmap::fromImage(img);
}

} // namespace

CTabStrip::CTabStrip(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
}

QPixmap CTabStrip::TabImage(int image)
{
    static const QPixmap saved = MakeTabImage(QColor(0, 255, 0), QColor(0, 128, 0));
    static const QPixmap modified = MakeTabImage(QColor(255, 0, 0), QColor(128, 0, 0));
    return image == 1 ? modified : saved;
}

int CTabStrip::InsertTab(int index, const QString &text, const QString &toolTip, int image)
{
    if (index < 0 || index > GetTabCount())
        return -1;
    m_tabs.insert(index, Tab{text, toolTip, image});
    if (m_nCurSel >= index)
        ++m_nCurSel;
    InvalidateLayout();
    return index;
}

bool CTabStrip::DeleteTab(int index)
{
    if (index < 0 || index >= GetTabCount())
        return false;
    m_tabs.removeAt(index);
    if (m_nCurSel == index)
        m_nCurSel = -1;
    else if (m_nCurSel > index)
        --m_nCurSel;
    if (m_nInsertMark >= GetTabCount())
        SetInsertMark(-1, false);
    InvalidateLayout();
    return true;
}

void CTabStrip::DeleteAllTabs()
{
    m_tabs.clear();
    m_nCurSel = -1;
    SetInsertMark(-1, false);
    InvalidateLayout();
}

bool CTabStrip::SetTabText(int index, const QString &text, const QString &toolTip)
{
    if (index < 0 || index >= GetTabCount())
        return false;
    m_tabs[index].text = text;
    m_tabs[index].toolTip = toolTip;
    InvalidateLayout();
    return true;
}

QString CTabStrip::GetTabText(int index) const
{
    return index >= 0 && index < GetTabCount() ? m_tabs[index].text : QString();
}

QString CTabStrip::GetTabToolTip(int index) const
{
    return index >= 0 && index < GetTabCount() ? m_tabs[index].toolTip : QString();
}

int CTabStrip::SetTabImage(int index, int image)
{
    if (index < 0 || index >= GetTabCount())
        return -1;
    const int previous = m_tabs[index].image;
    if (previous != image) {
        m_tabs[index].image = image;
        update(GetItemRect(index));
    }
    return previous;
}

int CTabStrip::GetTabImage(int index) const
{
    return index >= 0 && index < GetTabCount() ? m_tabs[index].image : -1;
}

void CTabStrip::SetCurSel(int index)
{
    if (index < -1 || index >= GetTabCount() || index == m_nCurSel)
        return;
    m_nCurSel = index;
    update();
}

int CTabStrip::GetTabHeight() const
{
    return fontMetrics().height() + 8;
}

int CTabStrip::TabWidth(const Tab &tab) const
{
    return kPadLeft + kImageSize + kImageGap + fontMetrics().horizontalAdvance(tab.text) + kPadRight;
}

void CTabStrip::InvalidateLayout()
{
    m_bLayoutValid = false;
    update();
}

void CTabStrip::EnsureLayout() const
{
    if (m_bLayoutValid && m_nLayoutWidth == width())
        return;
    const int h = GetTabHeight();
    const int right = width() - kMargin;
    m_rects.resize(m_tabs.size());
    int x = kMargin;
    int row = 0;
    for (int i = 0; i < m_tabs.size(); ++i) {
        const int w = TabWidth(m_tabs[i]);
        if (x > kMargin && x + w > right) { // wrap; a tab wider than the strip gets a row alone
            x = kMargin;
            ++row;
        }
        m_rects[i] = QRect(x, kMargin + row * h, w, h);
        x += w;
    }
    m_nRows = m_tabs.isEmpty() ? 0 : row + 1;
    m_nLayoutWidth = width();
    m_bLayoutValid = true;
}

int CTabStrip::GetRowCount() const
{
    EnsureLayout();
    return m_nRows;
}

QRect CTabStrip::GetItemRect(int index) const
{
    if (index < 0 || index >= GetTabCount())
        return QRect();
    EnsureLayout();
    return m_rects[index];
}

int CTabStrip::HitTest(const QPoint &pos) const
{
    EnsureLayout();
    for (int i = 0; i < m_rects.size(); ++i)
        if (m_rects[i].contains(pos))
            return i;
    return -1;
}

QRect CTabStrip::MarkStrip(int index, bool rightEdge) const
{
    const QRect rc = GetItemRect(index);
    const int edge = rightEdge ? rc.x() + rc.width() : rc.x();
    return QRect(edge - kMarkHalfLeft, 0, kMarkHalfLeft + kMarkHalfRight, height());
}

void CTabStrip::SetInsertMark(int index, bool rightEdge)
{
    const QRect next = index >= 0 && index < GetTabCount() ? MarkStrip(index, rightEdge) : QRect();
    if (index == m_nInsertMark && next == m_rcInsertMark)
        return;
    // Only the old and the new strip are repainted.
    if (!m_rcInsertMark.isNull())
        update(m_rcInsertMark);
    m_nInsertMark = next.isNull() ? -1 : index;
    m_rcInsertMark = next;
    if (!m_rcInsertMark.isNull())
        update(m_rcInsertMark);
}

QSize CTabStrip::sizeHint() const
{
    return QSize(200, GetRowCount() * GetTabHeight() + 2 * kMargin);
}

bool CTabStrip::event(QEvent *ev)
{
    if (ev->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(ev);
        const int index = HitTest(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), m_tabs[index].toolTip, this, GetItemRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(ev);
}

void CTabStrip::paintEvent(QPaintEvent *)
{
    ++m_nPaintCount;
    EnsureLayout();
    QPainter p(this);
    const QPalette &pal = palette();
    p.fillRect(rect(), pal.window());

    const int baseline = fontMetrics().ascent();
    for (int i = 0; i < m_tabs.size(); ++i) {
        const QRect rc = m_rects[i].adjusted(0, 0, -1, -1);
        const bool selected = i == m_nCurSel;
        p.fillRect(rc, selected ? pal.base() : pal.button());
        p.setPen(pal.color(QPalette::Mid));
        p.drawRect(rc);
        if (selected) // a bar across the top marks the active document
            p.fillRect(QRect(rc.left() + 1, rc.top() + 1, rc.width() - 1, 2), pal.highlight());
        const int midY = rc.top() + rc.height() / 2;
        p.drawPixmap(rc.left() + kPadLeft, midY - kImageSize / 2, TabImage(m_tabs[i].image));
        p.setPen(pal.color(selected ? QPalette::Text : QPalette::ButtonText));
        p.drawText(rc.left() + kPadLeft + kImageSize + kImageGap,
                   midY - fontMetrics().height() / 2 + baseline, m_tabs[i].text);
    }

    if (!m_rcInsertMark.isNull()) {
        // Two filled triangles in the window-text colour: at the top pointing down, at the
        // bottom pointing up.
        const int x = m_rcInsertMark.left();
        const int top = 0;
        const int bottom = height();
        const QColor ink = pal.color(QPalette::WindowText);
        p.setPen(QPen(ink, 1));
        p.setBrush(ink);
        p.drawPolygon(QPolygon({QPoint(x, top), QPoint(x + 6, top), QPoint(x + 3, top + 3)}));
        p.drawPolygon(QPolygon({QPoint(x, bottom - 1), QPoint(x + 6, bottom - 1), QPoint(x + 3, bottom - 4)}));
    }
}

void CTabStrip::resizeEvent(QResizeEvent *ev)
{
    m_bLayoutValid = false;
    QWidget::resizeEvent(ev);
}

void CTabStrip::changeEvent(QEvent *ev)
{
    if (ev->type() == QEvent::FontChange || ev->type() == QEvent::StyleChange)
        InvalidateLayout();
    QWidget::changeEvent(ev);
}

void CTabStrip::mousePressEvent(QMouseEvent *ev)
{
    ev->accept(); // right-clicks included: no context menu for tabs
    if (ev->button() != Qt::LeftButton)
        return;
    const int index = HitTest(ev->position().toPoint());
    if (index >= 0 && index != m_nCurSel) {
        SetCurSel(index);
        emit currentChanged(index);
    }
}

void CTabStrip::mouseReleaseEvent(QMouseEvent *ev)
{
    ev->accept();
}

void CTabStrip::contextMenuEvent(QContextMenuEvent *ev)
{
    ev->accept(); // consumed here, so it never reaches the frame's Edit menu
}
