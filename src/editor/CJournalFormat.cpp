// The bytes of a recovery journal: encoding, checksums, and reading back with the edits replayed.
#include "editor/CJournalFormat.h"

#include <QList>

#include <array>
#include <cstring>
#include <new>

namespace {

constexpr char kSignature[8] = {'T', 'L', 'V', 'X', 'J', 'R', 'N', '1'};
enum Kind : char { kHeader = 'H', kSnapshot = 'S', kEdit = 'E' };

// CRC-32C (Castagnoli), eight bytes a step: a 20 MB snapshot is checked in a few milliseconds.
using Table = std::array<std::array<quint32, 256>, 8>;
constexpr Table MakeTable()
{
    Table t {};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0x82f63b78u : c >> 1;
        t[0][i] = c;
    }
    for (int s = 1; s < 8; ++s)
        for (quint32 i = 0; i < 256; ++i)
            t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xff];
    return t;
}
constexpr Table kCrc = MakeTable();

void PutU32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void PutU64(char *p, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

quint64 GetU(const char *p, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

void AppendRecord(QByteArray &out, const QByteArray &payload)
{
    char frame[8];
    PutU32(frame, static_cast<quint32>(payload.size()));
    PutU32(frame + 4, CJournalFormat::Crc32c(payload.constData(), payload.size()));
    out.append(frame, 8).append(payload);
}

// The text while edits are applied: a gap at the last edit, so edits close to each other (the
// common case: typing) move few bytes.
class CGapText
{
public:
    explicit CGapText(const QByteArray &text) : m_buf(text), m_gapStart(text.size()), m_gapEnd(text.size()) {}

    qint64 Length() const { return m_buf.size() - (m_gapEnd - m_gapStart); }

    bool Apply(qint64 pos, qint64 removed, const char *ins, qint64 n)
    {
        if (pos < 0 || removed < 0 || pos > Length() || removed > Length() - pos)
            return false;
        MoveGap(pos);
        m_gapEnd += removed;
        if (m_gapEnd - m_gapStart < n)
            Grow(n);
        std::memcpy(m_buf.data() + m_gapStart, ins, static_cast<size_t>(n));
        m_gapStart += n;
        return true;
    }

    QByteArray Take()
    {
        MoveGap(Length());
        m_buf.truncate(m_gapStart);
        return std::move(m_buf);
    }

private:
    void MoveGap(qint64 pos)
    {
        char *b = m_buf.data();
        if (pos < m_gapStart)
            std::memmove(b + m_gapEnd - (m_gapStart - pos), b + pos, static_cast<size_t>(m_gapStart - pos));
        else if (pos > m_gapStart)
            std::memmove(b + m_gapStart, b + m_gapEnd, static_cast<size_t>(pos - m_gapStart));
        m_gapEnd += pos - m_gapStart;
        m_gapStart = pos;
    }

    void Grow(qint64 need)
    {
        const qint64 tail = m_buf.size() - m_gapEnd;
        const qint64 extra = std::max<qint64>(need, std::max<qint64>(64 * 1024, m_buf.size() / 4));
        m_buf.resize(m_buf.size() + extra);
        char *b = m_buf.data();
        std::memmove(b + m_gapEnd + extra, b + m_gapEnd, static_cast<size_t>(tail));
        m_gapEnd += extra;
    }

    QByteArray m_buf;
    qint64 m_gapStart;
    qint64 m_gapEnd;
};

} // namespace

quint32 CJournalFormat::Crc32c(const char *data, qint64 size, quint32 crc)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    crc = ~crc;
    while (size >= 8) {
        const quint32 lo = crc ^ (quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24);
        crc = kCrc[7][lo & 0xff] ^ kCrc[6][(lo >> 8) & 0xff] ^ kCrc[5][(lo >> 16) & 0xff] ^ kCrc[4][lo >> 24]
              ^ kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]];
        p += 8;
        size -= 8;
    }
    while (size-- > 0)
        crc = (crc >> 8) ^ kCrc[0][(crc ^ *p++) & 0xff];
    return ~crc;
}

QByteArray CJournalFormat::EncodeHeader(const CJournalHeader &h)
{
    // One "name=value" line each, so that a later version can add names that this one skips.
    QByteArray text;
    auto put = [&text](const char *name, const QByteArray &value) { text.append(name).append('=').append(value).append('\n'); };
    put("path", h.path.toUtf8().toPercentEncoding());
    put("title", h.title.toUtf8().toPercentEncoding());
    put("eol", QByteArray::number(h.eolMode));
    put("keywords", QByteArray::number(h.keywordSet));
    put("pid", QByteArray::number(h.owner.pid));
    put("start", QByteArray::number(h.owner.startTime));
    put("host", h.owner.host.toUtf8().toPercentEncoding());
    put("boot", h.owner.bootId.toUtf8().toPercentEncoding());
    put("created", QByteArray::number(h.createdMs));
    put("snapshot", QByteArray::number(h.snapshotMs));
    put("filesize", QByteArray::number(h.fileSize));
    put("filemtime", QByteArray::number(h.fileMtimeMs));
    QByteArray out(kSignature, sizeof kSignature);
    AppendRecord(out, char(kHeader) + text);
    return out;
}

QByteArray CJournalFormat::SnapshotPrefix(const QByteArray &text)
{
    const char kind = kSnapshot;
    QByteArray prefix(kFraming + 1, Qt::Uninitialized);
    PutU32(prefix.data(), static_cast<quint32>(text.size() + 1));
    PutU32(prefix.data() + 4, Crc32c(text.constData(), text.size(), Crc32c(&kind, 1)));
    prefix[kFraming] = kind;
    return prefix;
}

void CJournalFormat::AppendEdit(QByteArray &out, qint64 pos, qint64 removed, const char *inserted, qint64 insertedSize)
{
    const qsizetype at = out.size();
    out.resize(at + EditSize(insertedSize));
    char *p = out.data() + at;
    char *payload = p + kFraming;
    payload[0] = kEdit;
    PutU64(payload + 1, static_cast<quint64>(pos));
    PutU64(payload + 9, static_cast<quint64>(removed));
    if (insertedSize > 0)
        std::memcpy(payload + 17, inserted, static_cast<size_t>(insertedSize));
    PutU32(p, static_cast<quint32>(17 + insertedSize));
    PutU32(p + 4, Crc32c(payload, 17 + insertedSize));
}

CJournalContents CJournalFormat::Parse(const QByteArray &file)
{
    CJournalContents c;
    const char *data = file.constData();
    const qint64 size = file.size();
    if (size < qint64(sizeof kSignature) || std::memcmp(data, kSignature, sizeof kSignature) != 0) {
        c.error = QStringLiteral("It is not a journal.");
        return c;
    }
    qint64 at = sizeof kSignature;
    // The next whole record with a matching checksum, or null.
    auto next = [&](qint64 &len) -> const char * {
        if (size - at < kFraming)
            return nullptr;
        len = static_cast<qint64>(GetU(data + at, 4));
        if (len < 1 || len > size - at - kFraming)
            return nullptr;
        const char *payload = data + at + kFraming;
        if (Crc32c(payload, len) != static_cast<quint32>(GetU(data + at + 4, 4)))
            return nullptr;
        at += kFraming + len;
        return payload;
    };

    qint64 len = 0;
    const char *header = next(len);
    if (!header || header[0] != kHeader) {
        c.error = QStringLiteral("Its header is damaged.");
        return c;
    }
    for (const QByteArray &line : QByteArray(header + 1, len - 1).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray name = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        const QString text = QString::fromUtf8(QByteArray::fromPercentEncoding(value));
        CJournalHeader &h = c.header;
        if (name == "path")
            h.path = text;
        else if (name == "title")
            h.title = text;
        else if (name == "eol")
            h.eolMode = value.toInt();
        else if (name == "keywords")
            h.keywordSet = value.toInt();
        else if (name == "pid")
            h.owner.pid = value.toLongLong();
        else if (name == "start")
            h.owner.startTime = value.toULongLong();
        else if (name == "host")
            h.owner.host = text;
        else if (name == "boot")
            h.owner.bootId = text;
        else if (name == "created")
            h.createdMs = value.toLongLong();
        else if (name == "snapshot")
            h.snapshotMs = value.toLongLong();
        else if (name == "filesize")
            h.fileSize = value.toLongLong();
        else if (name == "filemtime")
            h.fileMtimeMs = value.toLongLong();
    }

    const char *snapshot = next(len);
    if (!snapshot || snapshot[0] != kSnapshot) {
        c.error = QStringLiteral("Its snapshot is incomplete.");
        return c;
    }
    try {
        CGapText text(QByteArray(snapshot + 1, len - 1));
        for (;;) {
            const qint64 start = at;
            const char *edit = next(len);
            // A record that is torn, or of an unknown kind, or that does not fit the text ends
            // the journal: nothing after it can be applied safely.
            if (!edit || edit[0] != kEdit || len < 17
                || !text.Apply(static_cast<qint64>(GetU(edit + 1, 8)), static_cast<qint64>(GetU(edit + 9, 8)),
                               edit + 17, len - 17)) {
                at = start;
                break;
            }
            ++c.edits;
        }
        c.text = text.Take();
    } catch (const std::bad_alloc &) {
        c.error = QStringLiteral("It is too large to read.");
        return c;
    }
    c.cutBytes = size - at;
    c.ok = true;
    return c;
}
