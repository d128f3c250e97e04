// What a document knows of the file it came from: the file's version and a digest of its bytes.
#include "editor/CFileIdentity.h"

#include "editor/CDocumentFile.h"

#include <QHashFunctions>

namespace {

// A fixed seed: digests are compared within one run only, but must not depend on the call.
constexpr std::size_t kDigestSeed = 0x5bd1e9955bd1e995ULL & std::size_t(-1);

} // namespace

void CFileIdentity::Set(const platform::FileVersion &version, QByteArrayView bytes)
{
    m_version = version;
    m_digest = Digest(bytes);
    m_seenChanged.reset();
}

std::size_t CFileIdentity::Digest(QByteArrayView bytes)
{
    return qHashBits(bytes.data(), static_cast<size_t>(bytes.size()), kDigestSeed);
}

CFileIdentity::Comparison CFileIdentity::Compare(const QString &path, bool wantBytes)
{
    Comparison result;
    const std::optional<platform::FileVersion> now = platform::VersionOfPath(path);
    if (!now) {
        result.state = State::Missing;
        return result;
    }
    result.version = *now;
    if (m_version && *now == *m_version)
        return result; // Unchanged
    result.state = State::Changed;
    // Another size is another text: nothing to read unless the caller wants the bytes.
    const bool sameSize = m_version && now->size == m_version->size;
    if (!wantBytes && (!sameSize || m_seenChanged == now))
        return result;
    QString error;
    if (!CDocumentFile::Read(path, result.bytes, error, &result.version))
        return result; // unreadable now: it cannot be shown to be the text known
    result.read = true;
    if (m_version && result.bytes.size() == m_version->size && Digest(result.bytes) == m_digest) {
        result.state = State::Touched;
        m_version = result.version;
        result.bytes = QByteArray();
    } else {
        m_seenChanged = result.version;
    }
    return result;
}
