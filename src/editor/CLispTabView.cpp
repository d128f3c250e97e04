// The document tab view: page operations, caption and Window menu upkeep, Ctrl+Tab, tab dragging.
#include "editor/CLispTabView.h"

#include "editor/CTalvexView.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStringList>

namespace {

// The drag image hangs below and to the right of the pointer by half a cursor.
constexpr int kCursorHalf = 16;
// The drag image shows the dragged tab with this much of the strip around it.
constexpr int kDragImageBorder = 2;

} // namespace

CLispTabView::CLispTabView(QWidget *parent)
    : QWidget(parent)
    , m_tabCtrl(this)
    , m_dragImage(this, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput)
{
    // With no documents the view shows the workspace background.
    setBackgroundRole(QPalette::Dark);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);

    m_tabCtrl.hide();
    m_tabCtrl.installEventFilter(this);
    connect(&m_tabCtrl, &CTabStrip::currentChanged, this, &CLispTabView::OnTabSelChange);

    m_dragImage.setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dragImage.setAttribute(Qt::WA_ShowWithoutActivating);
    m_dragImage.hide();
}

CLispTabView::~CLispTabView()
{
    EndCapture();
    m_tabCtrl.removeEventFilter(this);
    // The pages are children and go with the view; no signals while it is being torn down.
    blockSignals(true);
    m_pages.clear();
}

QString CLispTabView::ShownText(const QString &title, int limit)
{
    if (title.size() < limit + 1)
        return title;
    return title.left(limit - 3) + QStringLiteral("...");
}

void CLispTabView::SuspendRedraw()
{
    if (m_nRedrawSuspend++ == 0)
        setUpdatesEnabled(false);
}

void CLispTabView::ResumeRedraw()
{
    // Re-enabling schedules one repaint of the whole view, children included.
    if (--m_nRedrawSuspend == 0)
        setUpdatesEnabled(true);
}

bool CLispTabView::AddPage(QWidget *page, const QString &title, int image, CTalvexView *data)
{
    return InsertPage(GetPageCount(), page, title, image, data);
}

bool CLispTabView::InsertPage(int index, QWidget *page, const QString &title, int image, CTalvexView *data)
{
    if (!page || index < 0 || index > GetPageCount())
        return false;
    SuspendRedraw();
    if (m_tabCtrl.InsertTab(index, ShownText(title), title, image) < 0) {
        ResumeRedraw();
        return false;
    }
    if (page->parentWidget() != this)
        page->setParent(this);
    page->hide();
    m_pages.insert(index, PageRecord{page, title, data});
    if (m_nActivePage >= index)
        ++m_nActivePage; // the active document keeps its record while it is hidden below
    SetActivePage(index);
    emit pageActivated(m_nActivePage);
    if (GetPageCount() == 1)
        m_tabCtrl.show();
    UpdateLayout();
    ResumeRedraw();
    return true;
}

void CLispTabView::DestroyPageWindow(QWidget *w)
{
    if (!w)
        return;
    w->hide();
    // Deferred, so a page can be closed from inside one of its own event handlers.
    w->deleteLater();
}

void CLispTabView::RemovePage(int index)
{
    if (!IsValidPageIndex(index))
        return;
    SuspendRedraw();
    if (GetPageCount() == 1)
        m_tabCtrl.hide();

    const PageRecord rec = m_pages.takeAt(index);
    m_tabCtrl.DeleteTab(index);
    DestroyPageWindow(rec.window);

    if (index == m_nActivePage) {
        m_nActivePage = -1;
        if (index > 0) {
            SetActivePage(index - 1);
        } else if (GetPageCount() > 0) {
            SetActivePage(0);
        } else {
            UpdateLayout();
            ResumeRedraw();
            UpdateTitleBar();
            UpdateWindowMenu();
            emit pageActivated(m_nActivePage);
            return;
        }
    } else if (m_nActivePage >= 0) {
        const int active = index < m_nActivePage ? m_nActivePage - 1 : m_nActivePage;
        m_nActivePage = -1;
        SetActivePage(active);
    }
    ResumeRedraw();
    emit pageActivated(m_nActivePage);
}

void CLispTabView::RemoveAllPages()
{
    if (m_pages.isEmpty())
        return;
    EndCapture();
    SuspendRedraw();
    m_tabCtrl.hide();
    const QVector<PageRecord> pages = std::exchange(m_pages, {});
    for (const PageRecord &rec : pages)
        DestroyPageWindow(rec.window);
    m_tabCtrl.DeleteAllTabs();
    m_nActivePage = -1;
    emit pageActivated(-1);
    UpdateLayout();
    ResumeRedraw();
    UpdateTitleBar();
    UpdateWindowMenu();
}

void CLispTabView::SetActivePage(int index)
{
    if (!IsValidPageIndex(index))
        return;
    SuspendRedraw();
    if (IsValidPageIndex(m_nActivePage) && m_nActivePage != index && m_pages[m_nActivePage].window)
        m_pages[m_nActivePage].window->hide();
    m_nActivePage = index;
    m_tabCtrl.SetCurSel(index);
    QWidget *page = m_pages[index].window;
    if (page)
        page->show();
    UpdateLayout();
    ResumeRedraw();
    if (page)
        page->setFocus(Qt::OtherFocusReason);
    UpdateTitleBar();
    UpdateWindowMenu();
}

void CLispTabView::OnTabSelChange(int index)
{
    SetActivePage(index);
    emit pageActivated(m_nActivePage);
}

QWidget *CLispTabView::GetPageWindow(int i) const
{
    return IsValidPageIndex(i) ? m_pages[i].window.data() : nullptr;
}

QString CLispTabView::GetPageTitle(int i) const
{
    return IsValidPageIndex(i) ? m_pages[i].title : QString();
}

bool CLispTabView::SetPageToolTip(int index, const QString &toolTip)
{
    return IsValidPageIndex(index) && m_tabCtrl.SetTabText(index, ShownText(m_pages[index].title), toolTip);
}

CTalvexView *CLispTabView::GetPageData(int i) const
{
    return IsValidPageIndex(i) ? m_pages[i].data : nullptr;
}

bool CLispTabView::SetPageTitle(int index, const QString &title)
{
    if (!IsValidPageIndex(index))
        return false;
    SuspendRedraw();
    m_pages[index].title = title;
    m_tabCtrl.SetTabText(index, ShownText(title), title);
    UpdateLayout(); // a longer or shorter text may change the number of rows
    ResumeRedraw();
    UpdateTitleBar();
    UpdateWindowMenu();
    return true;
}

int CLispTabView::SetPageImage(int index, int image)
{
    return IsValidPageIndex(index) ? m_tabCtrl.SetTabImage(index, image) : -1;
}

bool CLispTabView::MovePage(int from, int to)
{
    if (!IsValidPageIndex(from) || !IsValidPageIndex(to))
        return false;
    if (from == to)
        return true;
    SuspendRedraw();
    const QString text = m_tabCtrl.GetTabText(from);
    const QString tip = m_tabCtrl.GetTabToolTip(from);
    const int image = m_tabCtrl.GetTabImage(from);
    m_tabCtrl.DeleteTab(from);
    if (m_tabCtrl.InsertTab(to, text, tip, image) != to) {
        m_tabCtrl.InsertTab(from, text, tip, image); // put it back where it was
        ResumeRedraw();
        return false;
    }
    if (IsValidPageIndex(m_nActivePage) && m_pages[m_nActivePage].window)
        m_pages[m_nActivePage].window->hide();
    m_nActivePage = -1;
    m_pages.move(from, to);
    SetActivePage(to);
    ResumeRedraw();
    emit pageActivated(m_nActivePage);
    return true;
}

int CLispTabView::CalcTabHeight() const
{
    const int rows = m_tabCtrl.GetRowCount();
    if (rows < 1)
        return 0;
    return m_tabCtrl.GetItemRect(0).height() * rows + 4;
}

void CLispTabView::UpdateLayout()
{
    const QRect rc = rect();
    if (!m_tabCtrl.isHidden())
        m_tabCtrl.setGeometry(0, 0, rc.width(), m_nTabHeight);
    if (QWidget *page = GetPageWindow(m_nActivePage))
        page->setGeometry(0, m_nTabHeight, rc.width(), rc.height() - m_nTabHeight);
    const int height = CalcTabHeight();
    if (height != m_nTabHeight) {
        m_nTabHeight = height;
        UpdateLayout();
    }
}

void CLispTabView::resizeEvent(QResizeEvent *ev)
{
    QWidget::resizeEvent(ev);
    UpdateLayout();
}

void CLispTabView::focusInEvent(QFocusEvent *ev)
{
    QWidget::focusInEvent(ev);
    if (QWidget *page = GetPageWindow(m_nActivePage))
        page->setFocus(ev->reason());
}

void CLispTabView::SetTitleBarWindow(QWidget *w)
{
    m_titleBar = w;
    m_bHaveTitleBase = w != nullptr;
    m_strTitleBase = w ? w->windowTitle() : QString();
    UpdateTitleBar();
}

void CLispTabView::UpdateTitleBar()
{
    if (!m_titleBar || !m_bHaveTitleBase)
        return;
    const CTalvexView *view = GetPageData(m_nActivePage);
    if (!view)
        return; // no active document: the caption keeps the last one
    m_titleBar->setWindowTitle(QStringLiteral("Talvex - ") + QDir::toNativeSeparators(view->m_strPath));
}

void CLispTabView::UpdateWindowMenu()
{
    emit windowListChanged();
}

QStringList CLispTabView::PageTitles() const
{
    QStringList titles;
    titles.reserve(GetPageCount());
    for (const PageRecord &rec : m_pages)
        titles.append(rec.title);
    return titles;
}

bool CLispTabView::PreTranslateMessage(QKeyEvent *ev)
{
    if (!ev || ev->type() != QEvent::KeyPress)
        return false;
    const int key = ev->key();
    const bool ctrl = ev->modifiers() & Qt::ControlModifier;
    if (GetPageCount() > 0 && ctrl && (key == Qt::Key_Tab || key == Qt::Key_Backtab)) {
        const int count = GetPageCount();
        if (count > 1) {
            const bool back = key == Qt::Key_Backtab || (ev->modifiers() & Qt::ShiftModifier);
            int next;
            if (back)
                next = m_nActivePage <= 0 ? count - 1 : m_nActivePage - 1;
            else
                next = (m_nActivePage < 0 || m_nActivePage >= count - 1) ? 0 : m_nActivePage + 1;
            SetActivePage(next);
            emit pageActivated(m_nActivePage);
        }
        return true;
    }
    if (m_bTabCapture && key == Qt::Key_Escape) {
        EndCapture();
        return true;
    }
    return false;
}

// --- Tab dragging ------------------------------------------------------------------------

bool CLispTabView::eventFilter(QObject *watched, QEvent *ev)
{
    if (watched == &m_tabCtrl) {
        switch (ev->type()) {
        case QEvent::MouseButtonPress:
            return OnStripMousePress(static_cast<QMouseEvent *>(ev));
        case QEvent::MouseMove:
            return OnStripMouseMove(static_cast<QMouseEvent *>(ev));
        case QEvent::MouseButtonRelease:
            return OnStripMouseRelease(static_cast<QMouseEvent *>(ev));
        case QEvent::Hide:
        case QEvent::UngrabMouse:
            EndCapture();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, ev);
}

bool CLispTabView::OnStripMousePress(QMouseEvent *ev)
{
    if (ev->button() == Qt::LeftButton && GetPageCount() > 1) {
        m_bTabCapture = true;
        m_ptStartDrag = ev->position().toPoint();
    }
    return false; // the strip still handles the click and selects the tab
}

bool CLispTabView::OnStripMouseMove(QMouseEvent *ev)
{
    if (!m_bTabCapture)
        return false;
    const QPoint pos = ev->position().toPoint();
    if (!m_bTabDrag) {
        const QPoint d = pos - m_ptStartDrag;
        if (std::abs(d.x()) < QApplication::startDragDistance() && std::abs(d.y()) < QApplication::startDragDistance())
            return false;
        StartDrag();
    }
    const int hit = m_tabCtrl.HitTest(pos);
    QApplication::changeOverrideCursor(hit >= 0 ? Qt::ArrowCursor : Qt::ForbiddenCursor);
    if (hit != m_nInsertItem)
        MoveInsertMark(hit);
    if (hit >= 0) {
        m_dragImage.move(ev->globalPosition().toPoint() + QPoint(kCursorHalf, kCursorHalf));
        m_dragImage.show();
    } else {
        m_dragImage.hide();
    }
    return true;
}

bool CLispTabView::OnStripMouseRelease(QMouseEvent *ev)
{
    if (!m_bTabCapture || ev->button() != Qt::LeftButton)
        return false;
    const bool dragging = m_bTabDrag;
    const int target = m_tabCtrl.HitTest(ev->position().toPoint());
    EndCapture();
    if (dragging && target >= 0)
        MovePage(m_nActivePage, target);
    return false;
}

void CLispTabView::StartDrag()
{
    const QRect rc = m_tabCtrl.GetItemRect(m_nActivePage)
                         .adjusted(-kDragImageBorder, -kDragImageBorder, kDragImageBorder, kDragImageBorder);
    m_dragImage.setPixmap(m_tabCtrl.grab(rc));
    m_dragImage.resize(rc.size());
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    m_bTabDrag = true;
}

void CLispTabView::MoveInsertMark(int target)
{
    m_nInsertItem = target;
    m_tabCtrl.SetInsertMark(target, m_nActivePage < target);
}

void CLispTabView::EndCapture()
{
    m_bTabCapture = false;
    if (!m_bTabDrag)
        return;
    m_bTabDrag = false;
    MoveInsertMark(-1);
    m_dragImage.hide();
    m_dragImage.clear();
    QApplication::restoreOverrideCursor();
}
