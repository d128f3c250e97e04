// What a document knows of the file it came from: the file's version and a digest of its bytes.
#pragma once

#include "platform/FileVersion.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Taken when a document is loaded and each time it is saved or reloaded. Comparing it with the
// file on disk tells whether another program has written the file since then; a write that left
// the bytes as they were (a touch, a checkout of the same text) counts as no change.
class CFileIdentity
{
public:
    enum class State {
        Unchanged, // the version known
        Touched,   // a new version with the bytes known; it is now the version known
        Changed,   // other bytes, or a file this document never read or wrote
        Missing,   // nothing at the path (deleted, or renamed away)
    };
    struct Comparison {
        State state = State::Unchanged;
        // With state Changed and bytes asked for: whether they could be read, and what was read.
        bool read = false;
        QByteArray bytes;
        platform::FileVersion version;
    };

    // The file at version held exactly bytes.
    void Set(const platform::FileVersion &version, QByteArrayView bytes);
    // No file known: whatever is on disk counts as changed.
    void Clear()
    {
        m_version.reset();
        m_seenChanged.reset();
    }
    bool IsKnown() const { return m_version.has_value(); }
    const std::optional<platform::FileVersion> &Version() const { return m_version; }

    // The file at path now against what is known. With wantBytes, a changed file's bytes are read
    // and returned; without, they are read only when the size alone cannot tell a touch.
    Comparison Compare(const QString &path, bool wantBytes);

    // The digest that tells equal bytes from different ones.
    static std::size_t Digest(QByteArrayView bytes);

private:
    std::optional<platform::FileVersion> m_version;
    std::size_t m_digest = 0;
    // The version last found changed: looked at again (each activation, each notice in its
    // folder), it is not read again to tell that it still differs.
    std::optional<platform::FileVersion> m_seenChanged;
};
