// The application event filter that gives the main frame every key press first.
#pragma once

#include <QObject>
#include <QPointer>

class CMessageFilter;
class QEvent;

// Installed on the application object. A key press reaches the filter's target exactly once,
// on its first receiver (Qt offers a press again to each parent while it is ignored), and not
// at all while a modal dialog or a popup menu is open: they run their keys without the filter,
// as the frame's accelerators must not fire inside them. File drops on any widget of the frame
// window go to the target as well.
class CKeyFilter : public QObject
{
    Q_OBJECT

public:
    explicit CKeyFilter(CMessageFilter &target, QObject *parent = nullptr);
    ~CKeyFilter() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool FilterKey(QObject *watched, QEvent *event);
    bool FilterDrop(QObject *watched, QEvent *event);

    CMessageFilter &m_target;
    const QEvent *m_pLastKey = nullptr;   // the press being offered along the parent chain
    QPointer<QObject> m_lastReceiver;
};
