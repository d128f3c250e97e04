// The process-wide settings store: typed reads and writes of values under one key path.
#pragma once

#include <QString>

// Caches nothing: every read goes to the stored settings at the moment of use. On Windows the
// values live in the registry under HKEY_CURRENT_USER\<key path>; elsewhere in the
// registry-export file $XDG_CONFIG_HOME/Quenmark/Talvex.reg. A value of the wrong type reads
// as absent, so the reader's default is returned.
class CSettingsStore
{
public:
    static CSettingsStore &Instance();

    // Done once by the main frame: "Software\Quenmark\Talvex".
    void SetKeyPath(const QString &keyPath);
    QString KeyPath() const { return m_strKeyPath; }

    int ReadInt(const QString &section, const QString &name, int defaultValue) const;
    QString ReadString(const QString &section, const QString &name, const QString &defaultValue) const;
    bool WriteInt(const QString &section, const QString &name, int value);
    bool WriteString(const QString &section, const QString &name, const QString &value);

private:
    CSettingsStore() = default;
    QString m_strKeyPath;
};
