// The process-wide settings store: typed values read from and written to the settings file.
#include "settings/CSettingsStore.h"

#include "settings/RegFileFormat.h"

#ifndef Q_OS_WIN
#include "settings/CSettingsFile.h"
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

#ifdef Q_OS_WIN
// The registry key of a group, as QSettings names it there.
QString NativeKey(const QString &group)
{
    return QString(group).replace(u'/', u'\\');
}

QVariant StoredValue(const QString &group, const QString &name)
{
    QSettings key(NativeKey(group), QSettings::NativeFormat);
    return key.value(name);
}

// Every value of the group, by name.
QMap<QString, QVariant> StoredGroup(const QString &group)
{
    QSettings key(NativeKey(group), QSettings::NativeFormat);
    QMap<QString, QVariant> values;
    const QStringList names = key.childKeys();
    for (const QString &name : names)
        values.insert(name, key.value(name));
    return values;
}

bool ChangeGroup(const QString &group, const QStringList &removedNames,
                 const QList<std::pair<QString, QVariant>> &values)
{
    QSettings key(NativeKey(group), QSettings::NativeFormat);
    for (const QString &name : removedNames)
        key.remove(name);
    for (const auto &[name, value] : values)
        key.setValue(name, value);
    key.sync();
    return key.status() == QSettings::NoError;
}
#else
CSettingsFile &File()
{
    static CSettingsFile file;
    return file;
}

QVariant StoredValue(const QString &group, const QString &name)
{
    return File().Values(CSettingsStore::FilePath()).value(group + u'/' + name);
}

// Every value of the group, by name: the keys right below it. A key with a further '/' belongs
// to a subgroup, or is the bucket of the group's unparsed lines.
QMap<QString, QVariant> StoredGroup(const QString &group)
{
    const QSettings::SettingsMap all = File().Values(CSettingsStore::FilePath());
    const QString prefix = group + u'/';
    QMap<QString, QVariant> values;
    for (auto it = all.lowerBound(prefix); it != all.cend() && it.key().startsWith(prefix); ++it) {
        const QString name = it.key().sliced(prefix.size());
        if (!name.contains(u'/'))
            values.insert(name, it.value());
    }
    return values;
}

bool ChangeGroup(const QString &group, const QStringList &removedNames,
                 const QList<std::pair<QString, QVariant>> &values)
{
    if (!QDir().mkpath(QFileInfo(CSettingsStore::FilePath()).absolutePath()))
        return false;
    return File().Write(CSettingsStore::FilePath(), [&](QSettings::SettingsMap &map) {
        bool changed = false;
        for (const QString &name : removedNames)
            changed = map.remove(group + u'/' + name) > 0 || changed;
        for (const auto &[name, value] : values) {
            map.insert(group + u'/' + name, value);
            changed = true;
        }
        return changed;
    });
}
#endif

QVariant ReadValue(const QString &group, const QString &name)
{
    if (group.isEmpty() || !RegFile::IsValidValueName(name))
        return {};
    return StoredValue(group, name);
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
    return group.isEmpty() ? QStringList() : StoredGroup(group).keys();
}

QMap<QString, QVariant> CSettingsStore::ReadSection(const QString &keyPath, const QString &section) const
{
    QMap<QString, QVariant> result;
    const QString group = GroupFor(keyPath, section);
    if (group.isEmpty())
        return result;
    const QMap<QString, QVariant> values = StoredGroup(group);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (std::optional<int> number = RegFile::IntValue(it.value()))
            result.insert(it.key(), *number);
        else if (std::optional<QString> text = RegFile::StringValue(it.value()))
            result.insert(it.key(), *text);
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
    const QString group = GroupFor(keyPath, section);
    if (group.isEmpty())
        return false;
    QStringList removed;
    for (const QString &name : removedNames) {
        if (RegFile::IsValidValueName(name))
            removed.append(name);
    }
    return ChangeGroup(group, removed, values);
}

bool CSettingsStore::IsFileTooLarge() const
{
#ifdef Q_OS_WIN
    return false;
#else
    return File().IsTooLarge(FilePath());
#endif
}
