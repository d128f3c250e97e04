// Help > Common Lisp HyperSpec / Common Lisp The Language: the reference files and where they are kept.
#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>

class CChmViewer;
class QWidget;

// Opens "CLHS.chm" or "CLtL2.chm" at its default topic: from the executable's folder, and off
// Windows also from talvex/ in the XDG data folders. On Windows through HTML Help; elsewhere in a
// viewer window of our own owned by the frame, one per file, which says where it looked when the
// file is nowhere.
class CReferenceLookup
{
public:
    explicit CReferenceLookup(QWidget *frame);
    ~CReferenceLookup();
    CReferenceLookup(const CReferenceLookup &) = delete;
    CReferenceLookup &operator=(const CReferenceLookup &) = delete;

    void OnHelpHyperSpec();
    void OnHelpCLtL2();
    // Shows the given .chm at its default topic; a missing file is shown as such, never fails.
    void OpenHelpFile(const QString &path);

    // Every place a reference file is looked for, first to last: the executable's folder, then
    // (off Windows) talvex/ under $XDG_DATA_HOME and under each of $XDG_DATA_DIRS.
    static QStringList HelpFileCandidates(const QString &fileName);
    // The first of those places that holds the file; the executable's folder when none does.
    static QString HelpFilePath(const QString &fileName);
    // The viewer showing path, or null (outside Windows; for tests).
    CChmViewer *Viewer(const QString &path) const;

private:
    void OpenReference(const QString &fileName);

    QWidget *m_pFrame;
    QHash<QString, QPointer<CChmViewer>> m_viewers;
};
