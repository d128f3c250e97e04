// The Help menu's reference commands: the two reference files, where they are kept, and Look Up Symbol.
#include "help/CReferenceLookup.h"

#include "editor/CLispReader.h"
#include "editor/CScintillaCtrl.h"
#include "editor/LispEditing.h"
#include "help/CChmViewer.h"
#include "help/CSymbolIndex.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>
#include <string_view>

#ifdef Q_OS_WIN
#include "platform/HtmlHelp.h"
#endif

namespace {

const QString kHyperSpec = QStringLiteral("CLHS.chm");

std::string_view View(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// The control's bytes: UTF-8 where the system's code page is, else the ANSI code page.
QString Decode(const CScintillaCtrl &ctrl, const QByteArray &bytes)
{
    return ctrl.GetCodePage() == QsciScintillaBase::SC_CP_UTF8 ? QString::fromUtf8(bytes) : QString::fromLocal8Bit(bytes);
}

} // namespace

CReferenceLookup::CReferenceLookup(QWidget *frame, std::function<CScintillaCtrl *()> activeEditor,
                                   std::function<void(const QString &)> status)
    : m_pFrame(frame), m_activeEditor(std::move(activeEditor)), m_status(std::move(status))
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
    OpenReference(kHyperSpec);
}

void CReferenceLookup::OnHelpCLtL2()
{
    OpenReference(QStringLiteral("CLtL2.chm"));
}

void CReferenceLookup::OnHelpLookUpSymbol()
{
    // The editor or console the user is typing in; else the active document.
    auto *ctrl = qobject_cast<CScintillaCtrl *>(QApplication::focusWidget());
    if (ctrl && m_pFrame && ctrl->window() != m_pFrame->window())
        ctrl = nullptr;
    if (!ctrl && m_activeEditor)
        ctrl = m_activeEditor();
    const QString name = ctrl ? SymbolToLookUp(*ctrl, ActiveReaderDialect()) : QString();
    if (name.isEmpty()) {
        Status(QObject::tr("No symbol at the caret to look up"));
        return;
    }
    LookUpSymbol(name);
}

QString CReferenceLookup::SymbolToLookUp(const CScintillaCtrl &ctrl, ReaderDialect dialect)
{
    const LispSyntax &syntax = SyntaxOf(dialect);
    const auto start = ctrl.GetSelectionStart();
    const auto end = ctrl.GetSelectionEnd();
    QByteArray token;
    if (start != end && ctrl.LineFromPosition(start) == ctrl.LineFromPosition(end)) {
        token = ctrl.GetTextRange(start, end).trimmed();
        // The prefixes the reader reads before a symbol: #' ' ` , ,@
        for (bool more = true; more && !token.isEmpty();) {
            more = false;
            for (const char *prefix : {"#'", ",@", "'", "`", ","})
                if (token.startsWith(prefix)) {
                    token.remove(0, qsizetype(qstrlen(prefix)));
                    more = true;
                    break;
                }
        }
        // A selection of more than one token is looked up as it stands (an index may hold phrases).
        if (CLispReader::TokenLength(View(token), syntax) != static_cast<std::size_t>(token.size()))
            return Decode(ctrl, token).simplified();
    } else {
        token = LispEditing::SymbolTokenAt(ctrl, ctrl.GetCurrentPos(), dialect);
    }
    if (token.isEmpty())
        return {};
    const std::string name = CLispReader::SymbolName(View(token), syntax);
    return Decode(ctrl, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

QString CReferenceLookup::NoEntryText(const QString &name, const QString &fileName)
{
    return QStringLiteral("No entry for %1 in %2").arg(name, fileName);
}

void CReferenceLookup::LookUpSymbol(const QString &name)
{
    const QString path = HelpFilePath(kHyperSpec);
    if (!QFileInfo(path).isFile()) {
        OpenReference(kHyperSpec); // the viewer says where the file was looked for, as F1 does
        return;
    }
#ifdef Q_OS_WIN
    ShowHtmlHelpKeyword(m_pFrame ? m_pFrame->window()->winId() : 0, path, name, NoEntryText(name, kHyperSpec));
#else
    const std::shared_ptr<CSymbolIndex> index = SymbolIndex(path);
    if (!index->IsOpen()) {
        OpenHelpFile(path); // a file that does not open is said in the viewer, as F1 says it
        return;
    }
    QList<ChmTopic> topics = index->Lookup(name);
    if (topics.isEmpty()) {
        // A file whose every index is unreadable is damaged, not silent about the name.
        Status(index->Keywords().isEmpty()
                   ? QObject::tr("No index could be read in %1; the file may be damaged").arg(kHyperSpec)
                   : NoEntryText(name, kHyperSpec));
        return;
    }
    // Pages found through the symbol map or the index pages carry the symbol as their title;
    // the chooser shows the pages' own.
    if (topics.size() > 1)
        for (ChmTopic &topic : topics)
            if (topic.title.compare(name, Qt::CaseInsensitive) == 0)
                if (const QString title = index->PageTitle(topic.page); !title.isEmpty())
                    topic.title = title;
    CChmViewer *viewer = ViewerFor(path);
    viewer->SetSymbolIndex(index);
    Bring(viewer);
    viewer->ShowTopics(topics, name);
    Status(QString());
#endif
}

std::shared_ptr<CSymbolIndex> CReferenceLookup::SymbolIndex(const QString &path)
{
    std::shared_ptr<CSymbolIndex> &index = m_indexes[path];
    if (index && index->IsCurrent())
        return index;
    const bool changed = index != nullptr;
    index = std::make_shared<CSymbolIndex>(path);
    // A viewer of the old file would show pages the new one may not have.
    if (CChmViewer *viewer = m_viewers.value(path); changed && viewer && viewer->IsOpen())
        viewer->Open(path);
    return index;
}

CChmViewer *CReferenceLookup::ViewerFor(const QString &path)
{
    QPointer<CChmViewer> &viewer = m_viewers[path];
    if (!viewer) {
        viewer = new CChmViewer(m_pFrame);
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->Open(path);
    } else if (!viewer->IsOpen()) {
        viewer->Open(path); // the file may have been put there since
    }
    return viewer;
}

void CReferenceLookup::Bring(CChmViewer *viewer)
{
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

void CReferenceLookup::Status(const QString &text) const
{
    if (m_status)
        m_status(text);
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
        Bring(viewer);
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
    const bool shown = m_viewers.value(path) && m_viewers.value(path)->IsOpen();
    CChmViewer *viewer = ViewerFor(path);
    if (shown)
        viewer->GoHome();
    if (viewer->IsOpen())
        viewer->SetSymbolIndex(SymbolIndex(path));
    Bring(viewer);
#endif
}
