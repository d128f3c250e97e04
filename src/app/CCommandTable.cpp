// What is read from the command rows: the row of an id, accelerators, prompts, tooltips, state kinds.
#include "app/CCommandTable.h"

#include <algorithm>

namespace {

struct StringEntry {
    int id;
    const char *text;
};

// Sorted by id for the binary search in String(). The 0xE000 block holds the system menu's
// prompts (id 0xF000 + 16 n has string 0xE000 + n).
constexpr StringEntry kStrings[] = {
    {Cmd::StrTitle, "Talvex"},
    {Cmd::StrReady, "Ready"},
    {61184, "Change the window size"},
    {61185, "Change the window position"},
    {61186, "Reduce the window to an icon"},
    {61187, "Enlarge the window to full size"},
    {61188, "Switch to the next document window"},
    {61189, "Switch to the previous document window"},
    {61190, "Close the active window and prompts to save the \ndocuments"},
    {61202, "Restore the window to normal size"},
    {61203, "Activate Task List"},
};

constexpr bool IsSystemCommand(int id)
{
    return id >= 0xF000 && id < 0xF1F0;
}

QString UpToNewline(QString text)
{
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline >= 0)
        text.truncate(newline);
    return text;
}

} // namespace

CCommandTable::CCommandTable(std::span<const Command> commands, std::span<const MenuRow> menu,
                             std::span<const int> toolbar)
    : m_commands(commands), m_menu(menu), m_toolbar(toolbar)
{
    for (const Command &c : m_commands) {
        for (const QKeyCombination keys : c.keys) {
            if (keys.key() != Qt::Key_unknown)
                m_keys.emplace_back(keys.toCombined(), c.id);
        }
    }
}

const Command *CCommandTable::Find(int id) const
{
    for (const Command &c : m_commands) {
        if (id == c.id || (c.lastId != 0 && id >= c.id && id <= c.lastId))
            return &c;
    }
    return nullptr;
}

int CCommandTable::AcceleratorFor(QKeyCombination keys) const
{
    Qt::Key key = keys.key();
    if (key == Qt::Key_Enter) // the keypad Enter is the same virtual key as Return
        key = Qt::Key_Return;
    const Qt::KeyboardModifiers mods = keys.keyboardModifiers()
        & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int combined = QKeyCombination(mods, key).toCombined();
    for (const auto &[bound, id] : m_keys) {
        if (bound == combined)
            return id;
    }
    return 0;
}

QString CCommandTable::Prompt(int id) const
{
    QString text;
    if (IsSystemCommand(id))
        text = String(0xE000 | ((id >> 4) & 0xFFF));
    else if (const Command *c = Find(id); c && c->prompt)
        text = QString::fromLatin1(c->prompt);
    return UpToNewline(text.left(255));
}

QString CCommandTable::Tooltip(int id) const
{
    const Command *c = Find(id);
    if (!c || !c->prompt)
        return {};
    const QString text = QString::fromLatin1(c->prompt);
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline < 0)
        return {};
    return text.mid(newline + 1, kTooltipMax);
}

QString CCommandTable::IconPath(int id) const
{
    const Command *c = Find(id);
    return c && c->icon ? QString::fromLatin1(c->icon) : QString();
}

std::vector<UIMapEntry> CCommandTable::UIMap() const
{
    std::vector<UIMapEntry> map;
    for (const Command &c : m_commands) {
        if (c.ui != 0)
            map.push_back({c.id, c.ui});
    }
    return map;
}

std::vector<int> CCommandTable::Group(CheckGroup group) const
{
    std::vector<int> ids;
    if (group == CheckGroup::None)
        return ids;
    for (const Command &c : m_commands) {
        if (c.group == group)
            ids.push_back(c.id);
    }
    return ids;
}

QString CCommandTable::String(int id)
{
    const auto *it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                      [](const StringEntry &e, int v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id)
        return {};
    return QString::fromLatin1(it->text);
}
