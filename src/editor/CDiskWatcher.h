// Noticing the documents whose files other programs change or delete, and following them.
#pragma once

#include "editor/CDiskChangeBar.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

class CLispTabView;
class CRecoveryJournals;
class CTalvexView;
class QWidget;

// Watches the file of every open document and the folder it is in: the folder shows a file that
// an editor replaced by renaming, or one that came back after it went, whose old watch is gone.
// A change is looked at once the other program has had a moment to finish writing, and at once
// when the main window is activated (CheckAll).
// - A document that is not modified follows its file: the new text comes in as one undo step.
// - A modified document gets a bar above its text, which offers to reload; nothing else changes.
// - A deleted file is said in the bar and the tab's tooltip; saving re-creates it.
// Before a save replaces a document's own file, ConfirmOverwrite asks when the file changed
// since the document last read or wrote it.
class CDiskWatcher : public QObject
{
    Q_OBJECT

public:
    // How long after a change notice the file is looked at.
    static constexpr int kSettleMs = 100;

    CDiskWatcher(QWidget *frame, CLispTabView &tabs);

    void SetRecovery(CRecoveryJournals *journals) { m_pRecovery = journals; }

    // Watches the files of the pages as they are now, and nothing else.
    void WatchPages();
    // Every document against its file, now. While a dialog is open, a moment after it closed.
    void CheckAll();
    // True when view's text may replace the file at path: path is not the document's own file,
    // the file is as the document knows it (or only touched), it is gone, or the user said Yes.
    bool ConfirmOverwrite(CTalvexView *view, const QString &path);
    // view's text and its file agree again (it was saved): the bar and the marks go.
    void Settled(CTalvexView *view);
    // A message in the main window's status bar.
    void ShowStatus(const QString &text);

private:
    void Check(CTalvexView *view);
    void Reload(CTalvexView *view, const QByteArray &bytes, const platform::FileVersion &version);
    void OnReloadClicked(CTalvexView *view);
    void OnKeepClicked(CTalvexView *view);
    void ShowBar(CTalvexView *view, CDiskChangeBar::Kind kind);
    void SetDeleted(CTalvexView *view, bool deleted);
    void OnNotice();

    QWidget *m_pFrame;
    CLispTabView &m_tabs;
    CRecoveryJournals *m_pRecovery = nullptr;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    bool m_bAsking = false; // the save-time question is up: no reload under it
};
