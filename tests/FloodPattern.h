// The bytes a test child floods its output with, and the digest a child reports of its input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flood {

// Byte i of the flood: block b of 1 MB is the first block with every byte xor b, so a child
// writes it at next to no cost and a test can check order and completeness.
inline unsigned char PatternByte(size_t i)
{
    const size_t j = i & ((1u << 20) - 1);
    return static_cast<unsigned char>(((j * 131) + (j >> 8)) ^ (i >> 20));
}

constexpr uint64_t kDigestStart = 1469598103934665603ull;

// FNV-1a, continued over data from an earlier digest.
inline uint64_t Digest(const void *data, size_t length, uint64_t digest = kDigestStart)
{
    for (const unsigned char *p = static_cast<const unsigned char *>(data), *end = p + length; p < end; ++p) {
        digest ^= *p;
        digest *= 1099511628211ull;
    }
    return digest;
}

} // namespace flood
