// The main window's end without prompts: what a signal to end the program or a logout does.
#include "app/CMainFrame.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

namespace {

// An open dialog gets this many rounds, a few tens of milliseconds apart, to close before the
// run ends under it.
constexpr int kDialogRounds = 20;
constexpr int kDialogRoundMs = 50;

} // namespace

void CMainFrame::EndUnanswered(int signalNumber)
{
    // First of all, since whatever follows may be cut short by a second signal: every edit on
    // the disk, and no journal removed from now on, whatever the closing documents say.
    if (m_nEndRounds == 0)
        m_recovery.KeepAllAtExit();
    // A dialog (a save prompt, a file dialog) is cancelled first, so that the flow that opened it
    // returns before the run ends; one that refuses to close is ended with the event loops.
    if (QWidget *modal = QApplication::activeModalWidget(); modal && m_nEndRounds < kDialogRounds) {
        ++m_nEndRounds;
        modal->close();
        QTimer::singleShot(kDialogRoundMs, this, [this, signalNumber] { EndUnanswered(signalNumber); });
        return;
    }
    m_nEndRounds = kDialogRounds;

    WriteOpenDocuments();
    // As at Exit, but before the window goes: the Lisp and every process it started.
    m_console.StopLisp();
    m_keys.reset();
    m_idle.reset();
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(128 + signalNumber);
}
