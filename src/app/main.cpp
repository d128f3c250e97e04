// Entry point: creates the main window, runs the event loop, returns the exit code.
#include "app/CMainFrame.h"
#include "platform/EndSignals.h"
#include "platform/Process.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Before any thread starts: what a killed program's Lisps leave behind is ended after it.
    platform::GuardLispSessions();
    // The command line carries no file names or options for the program itself.
    QApplication app(argc, argv);
    // The desktop entry's id, which is also its icon's name: the desktop finds both by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(TALVEX_APP_ID));
    // The frame decides when the run ends: exit code 1 after it closed normally.
    QApplication::setQuitOnLastWindowClosed(false);

    CMainFrame frame;
    if (!frame.Create())
        return 0; // no Lisp chosen at the first start
    // A signal to end the program (a logout, kill, Ctrl+C in the terminal it was started from)
    // ends it as an Exit that nobody answered: nothing prompts, nothing typed is lost, and the
    // Lisp's processes end with it.
    platform::CEndSignals endSignals([&frame](int signalNumber) { frame.EndUnanswered(signalNumber); });
    frame.show();
    // Once the window is up with the documents of the last session: what a crash left.
    QTimer::singleShot(0, &frame, &CMainFrame::OfferRecovery);
    return QApplication::exec();
}
