// Parser and writer of the registry-export text syntax used for the settings file.
#include "settings/RegFileFormat.h"

#include <QHash>
#include <QStringDecoder>

#include <climits>

namespace RegFile {
namespace {

constexpr QByteArrayView kHeader4("REGEDIT4");
constexpr QByteArrayView kHeader5("Windows Registry Editor Version 5.00");
constexpr QLatin1StringView kLinesSuffix("//lines");

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

bool IsBlank(QByteArrayView line)
{
    for (char c : line) {
        if (!IsSpace(c))
            return false;
    }
    return true;
}

QByteArrayView TrimLeft(QByteArrayView v)
{
    while (!v.isEmpty() && IsSpace(v.front()))
        v = v.sliced(1);
    return v;
}

QByteArrayView TrimRight(QByteArrayView v)
{
    while (!v.isEmpty() && IsSpace(v.back()))
        v.chop(1);
    return v;
}

bool StartsWithNoCase(QByteArrayView v, QByteArrayView prefix)
{
    return v.size() >= prefix.size()
        && QByteArrayView(v.first(prefix.size())).compare(prefix, Qt::CaseInsensitive) == 0;
}

// Strict UTF-8: bytes that are not proper UTF-8 give nothing instead of replacement characters,
// so that such a value stays absent and its line is written back unchanged.
std::optional<QString> DecodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString CutAtNul(QString text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

// A quoted string starting at v[pos] == '"', with \\ and \" as the only escapes. On success pos
// is just past the closing quote.
std::optional<QByteArray> ParseQuoted(QByteArrayView v, qsizetype &pos)
{
    QByteArray out;
    qsizetype i = pos + 1;
    while (i < v.size()) {
        // Copy the run up to the next quote or backslash in one go.
        qsizetype j = i;
        while (j < v.size() && v[j] != '"' && v[j] != '\\')
            ++j;
        out.append(v.sliced(i, j - i));
        if (j >= v.size())
            return std::nullopt;
        if (v[j] == '"') {
            pos = j + 1;
            return out;
        }
        if (j + 1 >= v.size() || (v[j + 1] != '\\' && v[j + 1] != '"'))
            return std::nullopt;
        out.append(v[j + 1]);
        i = j + 2;
    }
    return std::nullopt;
}

// Splits `"name"=rest` (spaces allowed around '='). False when the line is not of that shape.
bool SplitValueLine(QByteArrayView line, QByteArray &name, QByteArrayView &rest)
{
    if (line.isEmpty() || line.front() != '"')
        return false;
    qsizetype pos = 0;
    std::optional<QByteArray> quoted = ParseQuoted(line, pos);
    if (!quoted)
        return false;
    QByteArrayView after = TrimLeft(line.sliced(pos));
    if (after.isEmpty() || after.front() != '=')
        return false;
    name = *quoted;
    rest = TrimLeft(after.sliced(1));
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte list of a hex value: "41,42,00", possibly wrapped over lines with "\" + newline.
std::optional<QByteArray> ParseHexBytes(QByteArrayView v)
{
    QByteArray out;
    int digits = 0;
    int byte = 0;
    bool expectByte = true;   // at the start, or just after a comma
    bool sawAny = false;
    for (qsizetype i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if (IsSpace(c) || c == '\n')
            continue;
        if (c == '\\') {
            if (i + 1 >= v.size() || v[i + 1] != '\n')
                return std::nullopt;
            ++i;
            continue;
        }
        if (c == ',') {
            if (digits == 0)
                return std::nullopt;
            out.append(char(byte));
            digits = 0;
            byte = 0;
            expectByte = true;
            continue;
        }
        const int d = HexDigit(c);
        if (d < 0 || digits == 2 || (!expectByte && digits == 0))
            return std::nullopt;
        byte = byte * 16 + d;
        ++digits;
        sawAny = true;
    }
    if (digits > 0)
        out.append(char(byte));
    else if (sawAny)   // ends with a comma
        return std::nullopt;
    return out;
}

// REG_SZ / REG_EXPAND_SZ bytes: empty, or NUL-terminated; the text runs to the first NUL.
std::optional<QString> StringFromBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    if (bytes.back() != '\0')
        return std::nullopt;
    const qsizetype nul = bytes.indexOf('\0');
    return DecodeUtf8(QByteArrayView(bytes).first(nul));
}

std::optional<QString> StringFromHexValue(QByteArrayView rest)
{
    for (QByteArrayView prefix : {QByteArrayView("hex(1):"), QByteArrayView("hex(2):")}) {
        if (StartsWithNoCase(rest, prefix)) {
            std::optional<QByteArray> bytes = ParseHexBytes(rest.sliced(prefix.size()));
            return bytes ? StringFromBytes(*bytes) : std::nullopt;
        }
    }
    return std::nullopt;
}

// The typed value of a value line's right-hand side; an invalid QVariant when it is not a
// REG_SZ (quoted or hex(1)) or REG_DWORD value.
QVariant TypedValue(QByteArrayView rest)
{
    if (!rest.isEmpty() && rest.front() == '"') {
        qsizetype pos = 0;
        std::optional<QByteArray> bytes = ParseQuoted(rest, pos);
        if (!bytes || !IsBlank(rest.sliced(pos)))
            return {};
        std::optional<QString> text = DecodeUtf8(*bytes);
        return text ? QVariant(CutAtNul(*text)) : QVariant();
    }
    if (StartsWithNoCase(rest, "dword:")) {
        const QByteArrayView digits = TrimRight(rest.sliced(6));
        if (digits.size() != 8)   // so that a file cut off inside the digits gives no value
            return {};
        quint32 value = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0)
                return {};
            value = value * 16 + quint32(d);
        }
        return QVariant(int(value));
    }
    if (StartsWithNoCase(rest, "hex(1):")) {
        std::optional<QString> text = StringFromHexValue(rest);
        return text ? QVariant(*text) : QVariant();
    }
    return {};
}

QByteArray Escaped(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 2);
    for (char c : bytes) {
        if (c == '\\' || c == '"')
            out.append('\\');
        out.append(c);
    }
    return out;
}

QByteArray HexList(const QByteArray &bytes)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out.append(',');
        const auto b = static_cast<unsigned char>(bytes[i]);
        out.append(digits[b >> 4]);
        out.append(digits[b & 0xF]);
    }
    return out;
}

QByteArray FormatValue(const QString &name, const QVariant &value)
{
    const QByteArray lead = '"' + Escaped(name.toUtf8()) + "\"=";
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return value.toByteArray();   // a line kept verbatim
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
        return lead + "dword:" + QByteArray::number(value.toUInt(), 16).rightJustified(8, '0');
    default:
        break;
    }
    if (!value.canConvert<QString>())
        return {};
    const QString text = value.toString();
    // A line end or NUL cannot stand inside a quoted string; such text goes as REG_SZ bytes.
    if (text.contains(u'\n') || text.contains(u'\0'))
        return lead + "hex(1):" + HexList(text.toUtf8() + '\0');
    return lead + '"' + Escaped(text.toUtf8()) + '"';
}

void AppendLine(QByteArray &bucket, QByteArrayView line)
{
    bucket.append(line);
    bucket.append('\n');
}

// Registry-export files written by Windows tools are UTF-16LE; read them as the same text in UTF-8.
QByteArray Utf16ToUtf8(QByteArrayView data)
{
    QString text(data.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto lo = static_cast<unsigned char>(data[2 * i]);
        const auto hi = static_cast<unsigned char>(data[2 * i + 1]);
        text[i] = QChar(char16_t(lo | (hi << 8)));
    }
    return text.toUtf8();
}

} // namespace

QString LinesKey(const QString &group)
{
    return group + kLinesSuffix;
}

bool IsLinesKey(const QString &key)
{
    return key.endsWith(kLinesSuffix);
}

QString GroupForKey(const QString &keyPath)
{
    if (keyPath.isEmpty())
        return {};
    const QStringList parts = keyPath.split(u'\\');
    for (const QString &part : parts) {
        if (part.isEmpty() || part.contains(u'/') || part.contains(u'\n') || part.contains(u'\r')
            || part.contains(u'\0'))
            return {};
    }
    return parts.join(u'/');
}

bool IsValidValueName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && !name.contains(u'\n')
        && !name.contains(u'\r') && !name.contains(u'\0');
}

void Parse(QByteArrayView input, QSettings::SettingsMap &map)
{
    QByteArray converted;
    QByteArrayView data = input;
    if (data.startsWith("\xFF\xFE")) {
        converted = Utf16ToUtf8(data.sliced(2));
        data = converted;
    } else if (data.startsWith("\xEF\xBB\xBF")) {
        data = data.sliced(3);
    }

    enum class Context { TopLevel, Section, Unusable };
    Context context = Context::TopLevel;
    QString group;
    QHash<QString, QByteArray> buckets;   // group -> unparsed lines ("" = outside sections)
    QByteArray *bucket = &buckets[QString()];
    bool firstLine = true;

    qsizetype pos = 0;
    auto nextLine = [&](QByteArrayView &line) {
        if (pos >= data.size())
            return false;
        qsizetype end = data.indexOf('\n', pos);
        if (end < 0)
            end = data.size();
        line = data.sliced(pos, end - pos);
        pos = end + 1;
        // Every CR before the LF goes, so that no kept line ends in one and loses it when the
        // file is read again.
        while (line.endsWith('\r'))
            line.chop(1);
        return true;
    };

    QByteArrayView line;
    while (nextLine(line)) {
        if (IsBlank(line))
            continue;
        if (firstLine) {
            firstLine = false;
            const QByteArrayView trimmed = TrimRight(line);
            if (trimmed == kHeader4 || trimmed == kHeader5)
                continue;
        }

        if (line.front() == '[') {
            const QByteArrayView trimmed = TrimRight(line);
            QString sectionGroup;
            if (trimmed.size() > 2 && trimmed.back() == ']' && trimmed[1] != '-') {
                if (std::optional<QString> path = DecodeUtf8(trimmed.sliced(1, trimmed.size() - 2)))
                    sectionGroup = GroupForKey(*path);
            }
            if (sectionGroup.isEmpty()) {
                // A header that cannot be used: it and the lines under it are kept as they are.
                context = Context::Unusable;
                bucket = &buckets[QString()];
                AppendLine(*bucket, line);
            } else {
                context = Context::Section;
                group = sectionGroup;
                bucket = &buckets[group];
            }
            continue;
        }

        QByteArray nameBytes;
        QByteArrayView rest;
        if (!SplitValueLine(line, nameBytes, rest)) {
            AppendLine(*bucket, line);
            continue;
        }

        // A hex value may go on over lines that end with a backslash; the next ones are indented.
        QByteArray joined;
        QByteArrayView text = line;
        if (StartsWithNoCase(rest, "hex") && line.endsWith('\\')) {
            const qsizetype restOffset = rest.data() - line.data();
            joined = line.toByteArray();
            QByteArrayView last = line;
            while (last.endsWith('\\') && pos < data.size() && IsSpace(data[pos])) {
                nextLine(last);
                joined.append('\n');
                joined.append(last);
            }
            text = joined;
            rest = text.sliced(restOffset);
        }

        const std::optional<QString> name = DecodeUtf8(nameBytes);
        if (context != Context::Section || !name || !IsValidValueName(*name)) {
            AppendLine(*bucket, text);
            continue;
        }
        const QVariant typed = TypedValue(rest);
        map.insert(group + u'/' + *name, typed.isValid() ? typed : QVariant(text.toByteArray()));
    }

    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        if (!it.key().isEmpty() || !it.value().isEmpty())
            map.insert(LinesKey(it.key()), it.value());
    }
}

QByteArray Serialize(const QSettings::SettingsMap &map)
{
    struct Section {
        QByteArray lines;
        QByteArray values;
    };
    QMap<QString, Section> sections;
    QByteArray top;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString &key = it.key();
        if (IsLinesKey(key)) {
            const QString group = key.chopped(kLinesSuffix.size());
            QByteArray &lines = group.isEmpty() ? top : sections[group].lines;
            lines.append(it.value().toByteArray());
            if (!lines.isEmpty() && !lines.endsWith('\n'))
                lines.append('\n');
            continue;
        }
        const qsizetype slash = key.lastIndexOf(u'/');
        if (slash <= 0)
            continue;   // a value outside any key cannot be written in this syntax
        const QByteArray line = FormatValue(key.mid(slash + 1), it.value());
        if (line.isEmpty())
            continue;
        QByteArray &values = sections[key.left(slash)].values;
        values.append(line);
        values.append('\n');
    }

    QByteArray out = kHeader4.toByteArray() + "\n\n";
    if (!top.isEmpty())
        out += top + '\n';
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        QString header = it.key();
        header.replace(u'/', u'\\');
        out += '[' + header.toUtf8() + "]\n";
        // Values last: so no indented unparsed line can follow a hex value and be read as the
        // continuation of its line.
        out += it->lines;
        out += it->values;
        out += '\n';
    }
    return out;
}

std::optional<int> IntValue(const QVariant &value)
{
    if (value.typeId() == QMetaType::Int)
        return value.toInt();
    if (value.typeId() == QMetaType::UInt)   // REG_DWORD as some native readers give it
        return int(value.toUInt());
    return std::nullopt;
}

std::optional<QString> StringValue(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return CutAtNul(value.toString());
    if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray line = value.toByteArray();
        QByteArray name;
        QByteArrayView rest;
        if (SplitValueLine(line, name, rest))
            return StringFromHexValue(rest);
    }
    return std::nullopt;
}

} // namespace RegFile
