// The bytes of a recovery journal: a header, a snapshot of the text, then one record per edit.
#pragma once

#include "platform/JournalFile.h"

#include <QByteArray>
#include <QString>

// What a journal says about its document and its writer.
struct CJournalHeader
{
    QString path;            // the document's file; empty for an untitled document
    QString title;           // the tab's title when it was written
    int eolMode = 2;         // Scintilla's line-end mode of the document
    int keywordSet = 0;
    platform::ProcessIdentity owner;
    qint64 createdMs = 0;    // when the document's journal began (ms since the epoch)
    qint64 snapshotMs = 0;   // when this file's snapshot was taken
    qint64 fileSize = -1;    // the file on disk when the journal began; -1 when there was none
    qint64 fileMtimeMs = -1;
};

// A journal read back: its header, the text that its snapshot and edits give, and how much of
// the file's end was cut off as torn (a record whose length or checksum does not hold).
struct CJournalContents
{
    bool ok = false;
    QString error;           // why it cannot be read, when !ok
    CJournalHeader header;
    QByteArray text;
    qint64 edits = 0;
    qint64 cutBytes = 0;
};

// File layout: an 8-byte signature, then records. A record is its payload's length (4 bytes),
// the CRC-32C of the payload (4 bytes) and the payload, whose first byte is its kind. All numbers
// are little-endian. The first record is the header, the second the snapshot (the whole text),
// each later one an edit: position, removed length (8 bytes each) and the inserted bytes. A
// typed character costs 26 bytes.
class CJournalFormat
{
public:
    static QByteArray EncodeHeader(const CJournalHeader &header);
    // The snapshot record is written as this prefix followed by the text itself, so the text is
    // never copied once more to be written.
    static QByteArray SnapshotPrefix(const QByteArray &text);
    static constexpr qint64 SnapshotSize(qint64 textSize) { return kFraming + 1 + textSize; }
    static void AppendEdit(QByteArray &out, qint64 pos, qint64 removed, const char *inserted, qint64 insertedSize);
    static constexpr qint64 EditSize(qint64 insertedSize) { return kFraming + 17 + insertedSize; }

    static CJournalContents Parse(const QByteArray &file);

    static quint32 Crc32c(const char *data, qint64 size, quint32 crc = 0);

private:
    static constexpr qint64 kFraming = 8;
};
