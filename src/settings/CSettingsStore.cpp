// The process-wide settings store: typed values read from and written to the settings file.
#include "settings/CSettingsStore.h"

#include "settings/RegFileFormat.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

using namespace Qt::Literals::StringLiterals;

// The registry key an operation works on, below HKEY_CURRENT_USER.
QString KeyFor(const QString &keyPath, const QString &section)
{
    if (section.isEmpty())
        return keyPath;
    if (keyPath.isEmpty())
        return section;
    return keyPath + u'\\' + section;
}

// The QSettings group of that key ("HKEY_CURRENT_USER/Software/..."); empty when the key
// cannot be named (empty, an empty component, a '/').
QString GroupFor(const QString &keyPath, const QString &section)
{
    const QString key = KeyFor(keyPath, section);
    if (key.isEmpty())
        return {};
    return RegFile::GroupForKey(u"HKEY_CURRENT_USER\\"_s + key);
}

// A fresh view of one registry key: value names are plain keys of it. Each one reads the stored
// settings anew; none is kept between operations.
class KeyAccess
{
public:
#ifdef Q_OS_WIN
    explicit KeyAccess(const QString &group)
        : m_settings(QString(group).replace(u'/', u'\\'), QSettings::NativeFormat)
    {
    }
#else
    explicit KeyAccess(const QString &group) : m_settings(CSettingsStore::FilePath(), RegFile::Format())
    {
        m_settings.beginGroup(group);
    }
#endif
    QSettings &Settings() { return m_settings; }

private:
    QSettings m_settings;
};

QVariant ReadValue(const QString &group, const QString &name)
{
    if (group.isEmpty() || !RegFile::IsValidValueName(name))
        return {};
    KeyAccess key(group);
    return key.Settings().value(name);
}

// Applies a change to one key and writes it at once. `change` returns whether it changed
// anything; nothing is written when it did not.
template <typename Change>
bool WriteKey(const QString &group, Change change)
{
    if (group.isEmpty())
        return false;
#ifndef Q_OS_WIN
    if (!QDir().mkpath(QFileInfo(CSettingsStore::FilePath()).absolutePath()))
        return false;
    // QSettings holds its lock file ("Talvex.reg.lock") while it writes, reads the file again
    // first when another instance has changed it, and applies just this change to what it read
    // (the file format gives every version a newer time, so the change is always seen): two
    // instances writing at once lose nothing.
#endif
    KeyAccess key(group);
    if (!change(key.Settings()))
        return true;
    key.Settings().sync();
    return key.Settings().status() == QSettings::NoError;
}

} // namespace

CSettingsStore &CSettingsStore::Instance()
{
    static CSettingsStore store;
    return store;
}

void CSettingsStore::SetKeyPath(const QString &keyPath)
{
    m_strKeyPath = keyPath;
}

QString CSettingsStore::FilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + u"/.config"_s;
    return base + u"/Quenmark/Talvex.reg"_s;
}

int CSettingsStore::ReadInt(const QString &section, const QString &name, int defaultValue) const
{
    return RegFile::IntValue(ReadValue(GroupFor(m_strKeyPath, section), name)).value_or(defaultValue);
}

QString CSettingsStore::ReadString(const QString &section, const QString &name,
                                   const QString &defaultValue) const
{
    return RegFile::StringValue(ReadValue(GroupFor(m_strKeyPath, section), name)).value_or(defaultValue);
}

bool CSettingsStore::WriteInt(const QString &section, const QString &name, int value)
{
    return WriteSection(m_strKeyPath, section, {{name, QVariant(value)}}, {});
}

bool CSettingsStore::WriteString(const QString &section, const QString &name, const QString &value)
{
    if (value.isNull())
        return false;
    return WriteSection(m_strKeyPath, section, {{name, QVariant(value)}}, {});
}

bool CSettingsStore::DeleteValue(const QString &section, const QString &name)
{
    return WriteSection(m_strKeyPath, section, {}, {name});
}

QStringList CSettingsStore::ValueNames(const QString &section) const
{
    const QString group = GroupFor(m_strKeyPath, section);
    if (group.isEmpty())
        return {};
    KeyAccess key(group);
    return key.Settings().childKeys();
}

QMap<QString, QVariant> CSettingsStore::ReadSection(const QString &keyPath, const QString &section) const
{
    QMap<QString, QVariant> result;
    const QString group = GroupFor(keyPath, section);
    if (group.isEmpty())
        return result;
    KeyAccess key(group);
    QSettings &settings = key.Settings();
    const QStringList names = settings.childKeys();
    for (const QString &name : names) {
        const QVariant value = settings.value(name);
        if (std::optional<int> number = RegFile::IntValue(value))
            result.insert(name, *number);
        else if (std::optional<QString> text = RegFile::StringValue(value))
            result.insert(name, *text);
    }
    return result;
}

bool CSettingsStore::WriteSection(const QString &keyPath, const QString &section,
                                  const QList<std::pair<QString, QVariant>> &values,
                                  const QStringList &removedNames)
{
    for (const auto &[name, value] : values) {
        if (!RegFile::IsValidValueName(name))
            return false;
        const int type = value.typeId();
        if (type != QMetaType::Int && type != QMetaType::QString)
            return false;
    }
    return WriteKey(GroupFor(keyPath, section), [&](QSettings &settings) {
        bool changed = false;
        for (const QString &name : removedNames) {
            if (RegFile::IsValidValueName(name) && settings.contains(name)) {
                settings.remove(name);
                changed = true;
            }
        }
        for (const auto &[name, value] : values) {
            settings.setValue(name, value);
            changed = true;
        }
        return changed;
    });
}
