// The Help menu's reference commands: the two reference files, where they are kept, and Look Up Symbol.
#pragma once

#include "editor/LispSyntax.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CChmViewer;
class CScintillaCtrl;
class CSymbolIndex;
class QWidget;

// Opens "CLHS.chm" or "CLtL2.chm" at its default topic: from the executable's folder, and off
// Windows also from talvex/ in the XDG data folders. On Windows through HTML Help; elsewhere in a
// viewer window of our own owned by the frame, one per file, which says where it looked when the
// file is nowhere.
//
// Look Up Symbol reads the symbol at the caret as the Lisp reader reads it and shows its page of
// the HyperSpec; the keyword table of the file is built once and kept while the file is unchanged.
class CReferenceLookup
{
public:
    // activeEditor gives the editor whose caret is read when the focus is in none; status shows
    // a line in the frame's status bar.
    explicit CReferenceLookup(QWidget *frame, std::function<CScintillaCtrl *()> activeEditor = {},
                              std::function<void(const QString &)> status = {});
    ~CReferenceLookup();
    CReferenceLookup(const CReferenceLookup &) = delete;
    CReferenceLookup &operator=(const CReferenceLookup &) = delete;

    void OnHelpHyperSpec();
    void OnHelpCLtL2();
    // Help > Look Up Symbol: the symbol at the caret of the focused editor (or the active one).
    void OnHelpLookUpSymbol();
    // Shows the HyperSpec page of the symbol named name (as read); several pages are offered to
    // choose from; none leaves the viewer as it was and says so in the status bar.
    void LookUpSymbol(const QString &name);
    // The name Look Up Symbol reads in ctrl: the selection when it lies on one line, else the
    // symbol at or touching the caret; reader prefixes and the package go, bars and escapes are
    // read, the rest folded as the reader folds it. Empty when there is none.
    static QString SymbolToLookUp(const CScintillaCtrl &ctrl, ReaderDialect dialect);
    // The text of the status line for a name the file does not know.
    static QString NoEntryText(const QString &name, const QString &fileName);
    // Shows the given .chm at its default topic; a missing file is shown as such, never fails.
    void OpenHelpFile(const QString &path);

    // Every place a reference file is looked for, first to last: the executable's folder, then
    // (off Windows) talvex/ under $XDG_DATA_HOME and under each of $XDG_DATA_DIRS.
    static QStringList HelpFileCandidates(const QString &fileName);
    // The first of those places that holds the file; the executable's folder when none does.
    static QString HelpFilePath(const QString &fileName);
    // The viewer showing path, or null (outside Windows; for tests).
    CChmViewer *Viewer(const QString &path) const;

    // The keyword table of the file at path: the one built before while the file is unchanged.
    std::shared_ptr<CSymbolIndex> SymbolIndex(const QString &path);

private:
    void OpenReference(const QString &fileName);
    CChmViewer *ViewerFor(const QString &path);
    void Bring(CChmViewer *viewer);
    void Status(const QString &text) const;

    QWidget *m_pFrame;
    std::function<CScintillaCtrl *()> m_activeEditor;
    std::function<void(const QString &)> m_status;
    QHash<QString, QPointer<CChmViewer>> m_viewers;
    QHash<QString, std::shared_ptr<CSymbolIndex>> m_indexes;
};
