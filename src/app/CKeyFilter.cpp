// The application event filter: key presses to the frame's PreTranslateMessage, file drops.
#include "app/CKeyFilter.h"

#include "app/CMessageFilter.h"

#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

bool IsAncestorOf(const QObject *ancestor, const QObject *obj)
{
    for (const QObject *p = obj ? obj->parent() : nullptr; p; p = p->parent()) {
        if (p == ancestor)
            return true;
    }
    return false;
}

bool HasLocalFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return false;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            return true;
    }
    return false;
}

} // namespace

CKeyFilter::CKeyFilter(CMessageFilter &target, QObject *parent) : QObject(parent), m_target(target)
{
    qApp->installEventFilter(this);
}

CKeyFilter::~CKeyFilter()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool CKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        return FilterKey(watched, event);
    case QEvent::KeyRelease:
        m_pLastKey = nullptr;
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return FilterDrop(watched, event);
    default:
        return false;
    }
}

bool CKeyFilter::FilterKey(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false; // the window stage: the widget that gets it next is the first receiver
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Claim the accelerator keys so that no widget shortcut takes them before the press.
        if (m_target.IsAccelerator(key)) {
            event->accept();
            return true;
        }
        return false;
    }
    if (event == m_pLastKey && m_lastReceiver && IsAncestorOf(watched, m_lastReceiver))
        return false; // the same press offered to a parent: it has been filtered already
    m_pLastKey = event;
    m_lastReceiver = watched;
    return m_target.PreTranslateMessage(key);
}

bool CKeyFilter::FilterDrop(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget->window() != m_target.DropWindow())
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    if (!HasLocalFile(drop->mimeData()))
        return false;
    if (event->type() == QEvent::Drop) {
        drop->acceptProposedAction();
        m_target.OnDropFiles(drop->mimeData()->urls());
        return true;
    }
    drop->acceptProposedAction();
    return true;
}
