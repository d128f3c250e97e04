// The command vocabulary: one row per command, the menu and toolbar layout, and what is read from them.
#pragma once

#include "app/CommandIds.h"

#include <QKeyCombination>
#include <QString>

#include <span>
#include <type_traits>
#include <utility>
#include <vector>

class CMainFrame;

// Check items that exclude each other: checking one clears the others of its group.
enum class CheckGroup { None, LineEnding, TabSize, KeywordSet };

// One command, and everything the program shows of it and does with it. A command that is in a
// menu or on the toolbar is placed there by the layout (MenuRow, the toolbar list), by its id.
struct Command {
    using Handler = void (*)(CMainFrame &frame, int id);

    int id = 0;
    int lastId = 0;                 // a row for the ids id..lastId (a list of items); 0: id alone
    const char *text = nullptr;     // menu text with its & mnemonic and \t shortcut column
    QKeyCombination keys[2] = {};   // accelerators; Qt::Key_unknown fills an unused place
    const char *icon = nullptr;     // resource path of the image on its button and menu item
    const char *prompt = nullptr;   // status-bar prompt, then after a newline the tooltip
    Handler handler = nullptr;      // CCommandTable::On<&Class::Method>; none: the keys do nothing
    unsigned ui = 0;                // the kinds of element that show its state (CUpdateUI)
    CheckGroup group = CheckGroup::None;
};

// The menu layout, read top to bottom: PopupBegin opens a (sub)menu, PopupEnd closes the
// innermost one. RecentFiles places the recent-file list (its placeholder item until there are
// entries); WindowList marks the popup whose end lists the open documents.
struct MenuRow {
    enum Kind { Item, Separator, PopupBegin, PopupEnd, RecentFiles, WindowList };
    Kind kind = Item;
    int id = 0;                     // Item, RecentFiles: the command id
    const char *text = nullptr;     // PopupBegin: the title; RecentFiles: the placeholder text
};

// The frame's UI state table is made of these: a command and the kinds of element showing it.
struct UIMapEntry {
    int id;
    unsigned kinds;
};

// Everything about commands that the frame builds or looks up: menus, toolbar, accelerators,
// prompts, tooltips, the UI state table, the dispatch. Adding a command is adding its row (with
// its handler) and, when it is shown, its id in the layout.
class CCommandTable
{
    // Calls a handler on the object of the frame that owns it: the frame itself or one of its
    // parts. A handler takes the command id or nothing; what it returns is not used.
    template <auto Method, class Frame = CMainFrame>
    static void Call(Frame &frame, int id);

public:
    // The row's handler for a member function of the frame or of one of the parts it owns,
    // e.g. On<&CDocumentManager::OnFileNew>.
    template <auto Method>
    static constexpr Command::Handler On = &Call<Method>;

    static constexpr int kToolbarSeparator = 0;
    static constexpr int kTooltipMax = 79;
    static constexpr int kEditPopup = 1;   // the popup shown as the context menu

    CCommandTable(std::span<const Command> commands, std::span<const MenuRow> menu, std::span<const int> toolbar);

    // The program's own commands and layout.
    static const CCommandTable &Standard();

    std::span<const Command> Commands() const { return m_commands; }
    std::span<const MenuRow> Menu() const { return m_menu; }
    std::span<const int> Toolbar() const { return m_toolbar; }   // ids in button order, 0 = separator

    // The row of a command id, ranges included; null for an id of no row.
    const Command *Find(int id) const;
    // The command bound to a key press (modifiers compared exactly, keypad flag ignored), or 0.
    int AcceleratorFor(QKeyCombination keys) const;
    // The status-bar prompt of a menu item: its row's string up to the first newline (at most
    // 255 characters); system-menu ids have strings of their own; empty when there is none.
    QString Prompt(int id) const;
    // The tooltip of a button: what follows the first newline of its string, at most 79 characters.
    QString Tooltip(int id) const;
    QString IconPath(int id) const;
    // The commands whose state is shown, in row order.
    std::vector<UIMapEntry> UIMap() const;
    // The ids of a check group, in row order.
    std::vector<int> Group(CheckGroup group) const;

    // Strings that belong to no command: the title, "Ready", the system-menu prompts.
    static QString String(int id);

private:
    template <class> struct MethodClass;
    template <class R, class C, class... A> struct MethodClass<R (C::*)(A...)> { using type = C; };
    template <class R, class C, class... A> struct MethodClass<R (C::*)(A...) const> { using type = C; };

    static const Command kCommands[];
    static const MenuRow kMenu[];
    static const int kToolbar[];

    std::span<const Command> m_commands;
    std::span<const MenuRow> m_menu;
    std::span<const int> m_toolbar;
    std::vector<std::pair<int, int>> m_keys;   // combined key, command id
};

template <auto Method, class Frame>
void CCommandTable::Call(Frame &frame, int id)
{
    using Owner = typename MethodClass<decltype(Method)>::type;
    Owner &owner = frame.template CommandOwner<Owner>();
    if constexpr (std::is_invocable_v<decltype(Method), Owner &, int>)
        (owner.*Method)(id);
    else
        (owner.*Method)();
}
