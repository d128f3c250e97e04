// The frame's UI state table: enabled/checked state words, dirty marks, menu and toolbar writers.
#pragma once

#include <QList>
#include <QPointer>

#include <span>
#include <vector>

class QMenu;
class QToolBar;
struct UIMapEntry;

// Holds one state word per command of its map. Setting a state only marks what changed; menus
// are written from scratch when they are about to show, toolbar buttons when UIUpdateToolBar
// runs (at idle). The table never blocks a command: it only shows states.
class CUpdateUI
{
public:
    // Kinds of element that show a command.
    static constexpr unsigned MenuPopup = 0x0001;
    static constexpr unsigned ToolBar = 0x0008;
    // State bits.
    static constexpr unsigned Disabled = 0x0100;
    static constexpr unsigned Checked = 0x0200;

    explicit CUpdateUI(std::span<const UIMapEntry> map);

    void UIAddToolBar(QToolBar *toolBar);

    bool UIEnable(int id, bool enable);
    bool UISetCheck(int id, bool check);
    // The state word of a command; 0 for ids outside the map.
    unsigned UIGetState(int id) const;
    bool UIIsChecked(int id) const { return (UIGetState(id) & Checked) != 0; }
    bool UIIsEnabled(int id) const { return (UIGetState(id) & Disabled) == 0; }

    // Writes the state of every menu entry whose id is an item of the popup or of a popup
    // nested in it: disabled when the disabled bit is set, checked when the checked bit is.
    void UIUpdateMenu(QMenu *popup) const;
    // Brings the registered toolbars' buttons up to date with the entries marked dirty for
    // toolbars, then clears those marks.
    void UIUpdateToolBar();
    bool IsToolBarDirty() const { return m_bToolBarDirty; }

private:
    struct Entry {
        int id;
        unsigned kinds;
        unsigned state = 0;
        bool dirtyToolBar = false;
    };
    Entry *Find(int id);
    const Entry *Find(int id) const;
    bool SetState(int id, unsigned bit, bool on);

    std::vector<Entry> m_entries;
    QList<QPointer<QToolBar>> m_toolBars;
    bool m_bToolBarDirty = false;
};
