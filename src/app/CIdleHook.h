// Runs the idle handler when the event loop is about to wait after events that count.
#pragma once

#include <QObject>

class CIdleHandler;

// Every event except mouse moves, paints and timers makes idle work due again; when the event
// dispatcher is about to block and idle work is due, the handler runs once.
class CIdleHook : public QObject
{
    Q_OBJECT

public:
    explicit CIdleHook(CIdleHandler &handler, QObject *parent = nullptr);
    ~CIdleHook() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    bool IsIdleDue() const { return m_bDue; }
    // Runs the handler now if idle work is due (what the dispatcher's aboutToBlock does).
    void RunIfDue();

private:
    CIdleHandler &m_handler;
    bool m_bDue = true;
    bool m_bInIdle = false;
};
