// A list of document paths kept in the settings, newest last, optionally shown in a popup menu.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Two instances: the recent-file list (subkey "Recent Document List", command ids from 57616,
// at most 16, shown in the "Recent Files" popup) and the open-document list ("Open Document
// List", ids from 1, at most 32, no menu). Menu position k (0 = top) has id firstId + k and shows
// entry count - 1 - k, so the newest entry comes first. Stored as "DocumentCount" (the maximum)
// and "Document1" (newest) .. "Document<count>". Two entries naming the same file (CSameFile)
// are one entry.
class CRecentDocList
{
public:
    CRecentDocList(QString subKey, int firstCommandId, int upperBound);

    // Clamped to 2..upper bound; the oldest entries beyond the new maximum are dropped.
    void SetMaxEntries(int n);
    int GetMaxEntries() const { return m_nMaxEntries; }

    // What shows the list in a menu, called after every change with the list as it is now; its
    // result is UpdateMenu's. None (an empty function) for a list without a menu.
    using MenuUpdater = std::function<bool(const CRecentDocList &list)>;
    void SetMenuUpdater(MenuUpdater updater);

    // Makes path the newest entry (an entry for the same file is removed first). Returns
    // UpdateMenu's result.
    bool AddToList(const QString &path);
    // The entry shown at command id; false when the id shows none.
    bool GetFromList(int id, QString &path) const;
    // Remove / make newest the entry shown at id; false for an id that shows none, else
    // UpdateMenu's result.
    bool RemoveFromList(int id);
    bool MoveToTop(int id);

    // keyPath as given to the settings store ("Software\Quenmark\Talvex"). Reading fails, and
    // leaves the list alone, when there is no stored "DocumentCount"; otherwise true (and the
    // menu, if any, shows what was read).
    bool ReadFromRegistry(const QString &keyPath);
    bool WriteToRegistry(const QString &keyPath);

    // Has the menu show the list; false without a menu.
    bool UpdateMenu();

    int GetCount() const { return int(m_entries.size()); }
    QString GetEntry(int index) const;   // index 0 = oldest
    void RemoveAll();

    int FirstId() const { return m_nFirstId; }
    int UpperBound() const { return m_nUpperBound; }

private:
    int IndexForId(int id) const;   // entry index shown at id, -1 when none

    QString m_strSubKey;
    int m_nFirstId;
    int m_nUpperBound;
    int m_nMaxEntries = 4;
    QStringList m_entries;   // oldest first
    MenuUpdater m_menuUpdater;
};
