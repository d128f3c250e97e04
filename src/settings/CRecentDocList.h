// A list of document paths kept in the settings, newest last, optionally shown in a popup menu.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

class QMenu;

// Two instances: the recent-file list (subkey "Recent Document List", command ids from 57616,
// at most 16, shown in the "Recent Files" popup) and the open-document list ("Open Document
// List", ids from 1, at most 32, no menu). Menu position k (0 = top) has id firstId + k and shows
// entry count - 1 - k, so the newest entry comes first. Stored as "DocumentCount" (the maximum)
// and "Document1" (newest) .. "Document<count>".
class CRecentDocList
{
public:
    CRecentDocList(QString subKey, int firstCommandId, int upperBound);

    // Clamped to 2..upper bound; the oldest entries beyond the new maximum are dropped.
    void SetMaxEntries(int n);
    int GetMaxEntries() const { return m_nMaxEntries; }

    // The popup showing the list. Its item with the first command id gives the placeholder text
    // shown (greyed) while the list is empty; "(empty)" when it has none.
    void SetMenuHandle(QMenu *popup);

    // Makes path the newest entry (an equal entry is removed first: exact comparison on Linux,
    // ignoring letter case on Windows and macOS). Returns UpdateMenu's result.
    bool AddToList(const QString &path);
    // The entry shown at command id; false when the id shows none.
    bool GetFromList(int id, QString &path) const;
    // Remove / make newest the entry shown at id; false for an id that shows none, else
    // UpdateMenu's result.
    bool RemoveFromList(int id);
    bool MoveToTop(int id);

    // keyPath as given to the settings store ("Software\Quenmark\Talvex"). Reading fails, and
    // leaves the list alone, when there is no stored "DocumentCount"; otherwise true (and the
    // popup, if any, shows what was read).
    bool ReadFromRegistry(const QString &keyPath);
    bool WriteToRegistry(const QString &keyPath);

    // Rebuilds the list's items in the popup; false without a popup.
    bool UpdateMenu();

    int GetCount() const { return int(m_entries.size()); }
    QString GetEntry(int index) const;   // index 0 = oldest
    void RemoveAll();

    // Whether two paths name the same document by this platform's rule.
    static bool SamePath(const QString &a, const QString &b);

private:
    int IndexForId(int id) const;   // entry index shown at id, -1 when none

    QString m_strSubKey;
    int m_nFirstId;
    int m_nUpperBound;
    int m_nMaxEntries = 4;
    QStringList m_entries;   // oldest first
    QPointer<QMenu> m_pMenu;
    QString m_strPlaceholder;
};
