#include "updater/sha256.h"

#include <algorithm>

namespace morvandell {

namespace {

constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t rotr(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

} // namespace

void Sha256::compress(const Byte* block)
{
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t)
        w[t] = std::uint32_t(block[4 * t]) << 24 | std::uint32_t(block[4 * t + 1]) << 16 |
               std::uint32_t(block[4 * t + 2]) << 8 | std::uint32_t(block[4 * t + 3]);
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    std::uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t t1 =
            h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[t] + w[t];
        const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256::add(const Byte* data, std::size_t size)
{
    m_length += size;
    if (m_pendingSize > 0) {
        const std::size_t n = std::min(size, BlockSize - m_pendingSize);
        std::copy(data, data + n, m_pending.begin() + std::ptrdiff_t(m_pendingSize));
        m_pendingSize += n;
        data += n;
        size -= n;
        if (m_pendingSize < BlockSize)
            return;
        compress(m_pending.data());
        m_pendingSize = 0;
    }
    for (; size >= BlockSize; data += BlockSize, size -= BlockSize)
        compress(data);
    std::copy(data, data + size, m_pending.begin());
    m_pendingSize = size;
}

Sha256::Digest Sha256::finish()
{
    // Padding: one 1 bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    const std::uint64_t bits = m_length * 8;
    Byte tail[BlockSize + 8] = {0x80};
    const std::size_t padding = (m_pendingSize < 56 ? 56 : 56 + BlockSize) - m_pendingSize;
    for (int i = 0; i < 8; ++i)
        tail[padding + std::size_t(i)] = Byte(bits >> (56 - 8 * i));
    add(tail, padding + 8);

    Digest digest{};
    for (std::size_t i = 0; i < 8; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            digest[4 * i + j] = Byte(m_state[i] >> (24 - 8 * j));
    m_state = Initial;
    m_pendingSize = 0;
    m_length = 0;
    return digest;
}

std::string Sha256::hex(const Digest& digest)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * DigestSize);
    for (const Byte b : digest) {
        out += Digits[b >> 4];
        out += Digits[b & 0x0F];
    }
    return out;
}

std::string Sha256::hexOf(const Bytes& bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hex(hash.finish());
}

} // namespace morvandell
