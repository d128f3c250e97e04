// The process-wide settings store: typed values read from and written to the settings file.
#include "settings/CSettingsStore.h"

#include "settings/RegFileFormat.h"

#ifndef Q_OS_WIN
#include "platform/FileLock.h"
#endif

#include <QDir>
#include <QFile>
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

// A view of one registry key: value names are plain keys of it.
//
// Off Windows every view holds a lock on the settings folder for its whole life: shared to read,
// exclusive to write, so that no other instance replaces the file while it is read or while a
// change is applied and written. QSettings keeps the copy it read, with the file's size and time,
// and reads the file again only when these differ. It takes them without a lock, and may take
// them from a version written just after the text it read: its copy would then look current
// while it is not, and its next write would even put that old copy back over the other
// instance's change.
class KeyAccess
{
public:
#ifdef Q_OS_WIN
    KeyAccess(const QString &group, bool /*write*/)
        : m_settings(QString(group).replace(u'/', u'\\'), QSettings::NativeFormat)
    {
    }
    bool IsLocked() const { return true; }
#else
    KeyAccess(const QString &group, bool write)
        : m_bLocked(Lock(m_lock, write)), m_settings(CSettingsStore::FilePath(), RegFile::Format())
    {
        m_settings.beginGroup(group);
    }
    // Whether the lock was had. A read goes on without it (a rare stale copy beats no value);
    // a write does not.
    bool IsLocked() const { return m_bLocked; }
#endif
    QSettings &Settings() { return m_settings; }

private:
#ifndef Q_OS_WIN
    static bool Lock(platform::CFileLock &lock, bool write)
    {
        // Another instance holds the lock for a millisecond or so; one held far longer is given up on.
        constexpr int kLockWaitMs = 5000;
        // The settings folder, which stays while the file in it is replaced by each write.
        const QString folder = QFileInfo(CSettingsStore::FilePath()).absolutePath();
        return lock.Lock(QFile::encodeName(folder).toStdString(),
                         write ? platform::CFileLock::Mode::Exclusive : platform::CFileLock::Mode::Shared,
                         kLockWaitMs);
    }
    platform::CFileLock m_lock;
    bool m_bLocked = false;
#endif
    QSettings m_settings;
};

QVariant ReadValue(const QString &group, const QString &name)
{
    if (group.isEmpty() || !RegFile::IsValidValueName(name))
        return {};
    KeyAccess key(group, false);
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
#endif
    KeyAccess key(group, true);
    if (!key.IsLocked())
        return false;
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
    // A null string is stored as an empty one, as the registry stores a zero-length value.
    const QString stored = value.isNull() ? QStringLiteral("") : value;
    return WriteSection(m_strKeyPath, section, {{name, QVariant(stored)}}, {});
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
    KeyAccess key(group, false);
    return key.Settings().childKeys();
}

QMap<QString, QVariant> CSettingsStore::ReadSection(const QString &keyPath, const QString &section) const
{
    QMap<QString, QVariant> result;
    const QString group = GroupFor(keyPath, section);
    if (group.isEmpty())
        return result;
    KeyAccess key(group, false);
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
