#pragma once

#include "platform/bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace morvandell {

// SHA-256 (FIPS 180-4), fed in pieces of any size: the digest of the image file is taken while it is
// read, without holding the whole file.
class Sha256
{
public:
    static constexpr std::size_t DigestSize = 32;
    using Digest = std::array<Byte, DigestSize>;

    void add(const Byte* data, std::size_t size);
    void add(const Bytes& bytes) { add(bytes.data(), bytes.size()); }
    // The digest of everything added; the object starts afresh afterwards.
    Digest finish();

    // 64 lower-case hex digits.
    static std::string hex(const Digest& digest);
    static std::string hexOf(const Bytes& bytes);

private:
    static constexpr std::size_t BlockSize = 64;
    static constexpr std::array<std::uint32_t, 8> Initial{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    void compress(const Byte* block);

    std::array<std::uint32_t, 8> m_state = Initial;
    std::array<Byte, BlockSize> m_pending{};
    std::size_t m_pendingSize = 0;
    std::uint64_t m_length = 0; // bytes added
};

} // namespace morvandell
