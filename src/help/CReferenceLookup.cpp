// Help > Common Lisp HyperSpec / Common Lisp The Language: the reference files beside the program.
#include "help/CReferenceLookup.h"

#include "help/CChmViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>

#ifdef Q_OS_WIN
#include "platform/HtmlHelp.h"
#endif

CReferenceLookup::CReferenceLookup(QWidget *frame)
    : m_pFrame(frame)
{
}

// Viewers still open go with the lookup; those owned by the frame would go with it anyway.
CReferenceLookup::~CReferenceLookup()
{
    for (const QPointer<CChmViewer> &viewer : std::as_const(m_viewers))
        delete viewer.data();
}

void CReferenceLookup::OnHelpHyperSpec()
{
    OpenHelpFile(HelpFilePath(QStringLiteral("CLHS.chm")));
}

void CReferenceLookup::OnHelpCLtL2()
{
    OpenHelpFile(HelpFilePath(QStringLiteral("CLtL2.chm")));
}

QString CReferenceLookup::HelpFilePath(const QString &fileName)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
}

CChmViewer *CReferenceLookup::Viewer(const QString &path) const
{
    return m_viewers.value(path).data();
}

void CReferenceLookup::OpenHelpFile(const QString &path)
{
#ifdef Q_OS_WIN
    ShowHtmlHelp(m_pFrame ? m_pFrame->window()->winId() : 0, path);
#else
    QPointer<CChmViewer> &viewer = m_viewers[path];
    if (!viewer) {
        viewer = new CChmViewer(m_pFrame);
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->Open(path);
    } else if (!viewer->IsOpen()) {
        viewer->Open(path); // the file may have been put there since
    } else {
        viewer->GoHome();
    }
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
#endif
}
