// The Recent Files popup: a CRecentDocList shown as numbered items, newest first.
#pragma once

#include <QPointer>
#include <QString>

class CRecentDocList;
class QMenu;

// Shows the list after every change of it, for as long as this object lives. Menu position k
// (0 = top) has command id first id + k and shows the entry count - 1 - k.
class CRecentFilesMenu
{
public:
    explicit CRecentFilesMenu(CRecentDocList &list);
    ~CRecentFilesMenu();
    CRecentFilesMenu(const CRecentFilesMenu &) = delete;
    CRecentFilesMenu &operator=(const CRecentFilesMenu &) = delete;

    // The popup showing the list. Its item with the list's first command id gives the
    // placeholder text shown (greyed) while the list is empty; "(empty)" when it has none.
    void SetMenuHandle(QMenu *popup);
    QMenu *MenuHandle() const;

private:
    // Rebuilds the list's items in the popup; false without a popup.
    bool Update(const CRecentDocList &list);

    CRecentDocList &m_list;
    QPointer<QMenu> m_pMenu;
    QString m_strPlaceholder;
};
