// The idle hook: marks idle work due on counted events, runs it on aboutToBlock.
#include "app/CIdleHook.h"

#include "app/CMessageFilter.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>

CIdleHook::CIdleHook(CIdleHandler &handler, QObject *parent) : QObject(parent), m_handler(handler)
{
    qApp->installEventFilter(this);
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CIdleHook::RunIfDue);
}

CIdleHook::~CIdleHook()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool CIdleHook::eventFilter(QObject *, QEvent *event)
{
    if (m_bDue || m_bInIdle)
        return false;
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::HoverMove:
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::Timer:
        break;
    default:
        m_bDue = true;
        break;
    }
    return false;
}

void CIdleHook::RunIfDue()
{
    if (!m_bDue || m_bInIdle)
        return;
    // Modal dialogs run their own loop without the program's idle work; it waits for them.
    if (QApplication::activeModalWidget())
        return;
    m_bDue = false;
    m_bInIdle = true;
    m_handler.OnIdle();
    m_bInIdle = false;
}
