// The settings file in registry-export text syntax: parser and writer.
#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <optional>

// Depends on Qt Core only, so that the fuzz target links just this file and Qt Core.
//
// How the file maps onto QSettings keys: the section "[HKEY_CURRENT_USER\Software\X]" is the
// group "HKEY_CURRENT_USER/Software/X", and each value is "group/name". A string value
// (REG_SZ) is a QString, a dword (REG_DWORD) an int. A value line whose name is usable but whose
// type or content is not understood (hex(2), hex(7), a malformed string ...) is kept as a
// QByteArray holding the line verbatim, so it stays absent for typed readers and is written back
// unchanged. Every other non-blank line that does not parse is kept in the line bucket of its
// section, LinesKey(group) (LinesKey("") for lines outside any usable section), and written back
// too. These keys contain "//", which QSettings never produces for a key of its own.
namespace RegFile {

// Key of the bucket of unparsed lines of a group ("" = lines outside any usable section).
QString LinesKey(const QString &group);
bool IsLinesKey(const QString &key);

// Parses a whole file. Never fails: what does not parse is kept as described above.
void Parse(QByteArrayView data, QSettings::SettingsMap &map);

// Writes a map in the file syntax ("REGEDIT4" header, sections in key order).
QByteArray Serialize(const QSettings::SettingsMap &map);

// The integer of a REG_DWORD value; nothing for any other type.
std::optional<int> IntValue(const QVariant &value);

// The text of a REG_SZ or REG_EXPAND_SZ value (the latter as stored, variables unexpanded), up to
// its first NUL; nothing for any other type or for bytes that are not a proper string.
std::optional<QString> StringValue(const QVariant &value);

// The QSettings group of a registry key path ("A\B\C" -> "A/B/C"); empty when a component is
// empty or holds a character a key name cannot hold here ('/', control characters).
QString GroupForKey(const QString &keyPath);

// Whether a value name can be stored: not empty, no '/', '\\', CR, LF or NUL.
bool IsValidValueName(const QString &name);

} // namespace RegFile
