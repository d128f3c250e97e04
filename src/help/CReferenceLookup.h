// Help > Common Lisp HyperSpec / Common Lisp The Language: the reference files beside the program.
#pragma once

#include <QHash>
#include <QPointer>
#include <QString>

class CChmViewer;
class QWidget;

// Opens "CLHS.chm" or "CLtL2.chm" from the executable's folder at its default topic. On Windows
// through HTML Help; elsewhere in a viewer window of our own owned by the frame, one per file.
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

    // The full path of a reference file in the executable's folder.
    static QString HelpFilePath(const QString &fileName);
    // The viewer showing path, or null (outside Windows; for tests).
    CChmViewer *Viewer(const QString &path) const;

private:
    QWidget *m_pFrame;
    QHash<QString, QPointer<CChmViewer>> m_viewers;
};
