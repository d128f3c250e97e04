// The process-wide settings store: typed reads and writes of values under one key path.
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

// Every read sees what is stored at the moment of use. On Windows the values live in the registry
// under HKEY_CURRENT_USER\<key path>; elsewhere in the registry-export file
// $XDG_CONFIG_HOME/Quenmark/Talvex.reg, whose values are kept for as long as the file is unchanged
// (CSettingsFile). A value of the wrong type reads as absent, so the reader's default is returned.
class CSettingsStore
{
public:
    // The section of the program's own settings ("Lisp", "TabSize", ...).
    static inline const QString kSettings = QStringLiteral("Settings");

    // "LineEnding" (Scintilla's numbering: 0 CR LF, 1 CR, 2 LF) when none is stored: each
    // platform's own line end, so that its files come back from a save with the ends they had.
#ifdef Q_OS_WIN
    static constexpr int kDefaultLineEnding = 0;
#else
    static constexpr int kDefaultLineEnding = 2;
#endif

    static CSettingsStore &Instance();

    // Done once by the main frame: "Software\Quenmark\Talvex".
    void SetKeyPath(const QString &keyPath);
    QString KeyPath() const { return m_strKeyPath; }

    int ReadInt(const QString &section, const QString &name, int defaultValue) const;
    QString ReadString(const QString &section, const QString &name, const QString &defaultValue) const;
    bool WriteInt(const QString &section, const QString &name, int value);
    bool WriteString(const QString &section, const QString &name, const QString &value);

    // Removes one value; true when it is gone afterwards (also when it was never there).
    bool DeleteValue(const QString &section, const QString &name);
    // Names of all values of the section, of any type.
    QStringList ValueNames(const QString &section) const;

    // Whole-section access for the document lists, under an explicit key path: one read gives
    // every REG_DWORD value as int and every REG_SZ / REG_EXPAND_SZ value as QString (values of
    // other types are left out); one write sets and removes several values at once.
    QMap<QString, QVariant> ReadSection(const QString &keyPath, const QString &section) const;
    bool WriteSection(const QString &keyPath, const QString &section,
                      const QList<std::pair<QString, QVariant>> &values,
                      const QStringList &removedNames);

    // The settings file ($XDG_CONFIG_HOME/Quenmark/Talvex.reg); not used on Windows.
    static QString FilePath();
    // Whether the settings file is too large to be read: every value then reads as its default
    // and no write changes the file.
    bool IsFileTooLarge() const;

private:
    CSettingsStore() = default;
    QString m_strKeyPath;
};
