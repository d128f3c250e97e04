// Entry point: creates the main window, runs the event loop, returns the exit code.
#include "app/CMainFrame.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    // The command line carries no file names or options for the program itself.
    QApplication app(argc, argv);
    // The desktop entry's id, which is also its icon's name: the desktop finds both by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(TALVEX_APP_ID));
    // The frame decides when the run ends: exit code 1 after it closed normally.
    QApplication::setQuitOnLastWindowClosed(false);

    CMainFrame frame;
    if (!frame.Create())
        return 0; // no Lisp chosen at the first start
    frame.show();
    // Once the window is up with the documents of the last session: what a crash left.
    QTimer::singleShot(0, &frame, &CMainFrame::OfferRecovery);
    return QApplication::exec();
}
