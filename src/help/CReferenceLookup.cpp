// Help > Common Lisp HyperSpec / Common Lisp The Language: the reference files and where they are kept.
#include "help/CReferenceLookup.h"

#include "help/CChmViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>

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
    OpenReference(QStringLiteral("CLHS.chm"));
}

void CReferenceLookup::OnHelpCLtL2()
{
    OpenReference(QStringLiteral("CLtL2.chm"));
}

QStringList CReferenceLookup::HelpFileCandidates(const QString &fileName)
{
    QStringList places{QDir(QCoreApplication::applicationDirPath()).filePath(fileName)};
#ifndef Q_OS_WIN
    // A packaged program lives in /usr/bin, where no data file belongs: the reference files go
    // where the system keeps shared data, for one user or for all.
    const QString inFolder = QStringLiteral("talvex/") + fileName;
    for (const QString &dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        places.append(QDir(dir).filePath(inFolder));
    places.removeDuplicates();
#endif
    return places;
}

QString CReferenceLookup::HelpFilePath(const QString &fileName)
{
    const QStringList places = HelpFileCandidates(fileName);
    const auto found = std::find_if(places.cbegin(), places.cend(),
                                    [](const QString &place) { return QFileInfo(place).isFile(); });
    return found != places.cend() ? *found : places.first();
}

CChmViewer *CReferenceLookup::Viewer(const QString &path) const
{
    return m_viewers.value(path).data();
}

void CReferenceLookup::OpenReference(const QString &fileName)
{
    const QString path = HelpFilePath(fileName);
#ifndef Q_OS_WIN
    const QStringList places = HelpFileCandidates(fileName);
    const QString &beside = places.first();
    if (!QFileInfo(path).isFile()) {
        // Nowhere: the window names every place looked in, so the user knows where to put it.
        QPointer<CChmViewer> &viewer = m_viewers[beside];
        if (!viewer) {
            viewer = new CChmViewer(m_pFrame);
            viewer->setAttribute(Qt::WA_DeleteOnClose);
        }
        viewer->ShowNotFound(places);
        viewer->show();
        viewer->raise();
        viewer->activateWindow();
        return;
    }
    // Put in place while the window said it was missing: that same window shows it now.
    if (path != beside && !m_viewers.value(path)) {
        const CChmViewer *waiting = m_viewers.value(beside);
        if (waiting && !waiting->IsOpen())
            m_viewers.insert(path, m_viewers.take(beside));
    }
#endif
    OpenHelpFile(path);
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
