#pragma once

#include "platform/bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace morvandell {

// The image file as it was loaded, and as a transfer sends it: 1016 blocks of 128 bytes. Transfer
// position p (from 1) carries the file's byte at offset p - 1 while p is at most the loaded length, else
// 0xFF. Loading reads the file once: the bytes a transfer sends stay in memory, and the SHA-256 of the
// whole file is taken on the way (memory stays bounded whatever the file's size). A transfer sends
// those bytes, never the file as it is later; before its first byte goes out it checks that the file
// still has the loaded size and SHA-256. Paths and messages are UTF-8.
class FirmwareImage
{
public:
    static constexpr std::int64_t SizeLimit = 130084; // larger files are only warned about
    static constexpr Byte Padding = 0xFF;

    static bool isTooLarge(std::int64_t length) { return length > SizeLimit; }

    // Reads the file at `path`. Nothing (with *error in German) when it does not exist, is not a regular
    // file or cannot be read. Never creates a file.
    static std::optional<FirmwareImage> load(const std::string& path, std::string* error);

    // Whether the file still has the size and SHA-256 it had when it was loaded. False with *error
    // (German, naming the file): it changed, is gone or cannot be read; nothing was sent, and it must be
    // loaded again.
    bool unchanged(std::string* error) const;

    // Block `block` (1..1016) into `out` (128 bytes), from memory.
    void readBlock(int block, Byte* out) const;
    Bytes block(int block) const;

    const std::string& path() const { return m_path; }
    // The file's size when it was loaded.
    std::int64_t length() const { return m_length; }
    // SHA-256 of the whole file as loaded: 64 lower-case hex digits.
    const std::string& sha256() const { return m_sha256; }
    // How many bytes of the transfer come from the file.
    std::int64_t bytesFromFile() const { return std::int64_t(m_bytes.size()); }
    // What was loaded, for the user: name, size and SHA-256, one item a line.
    std::string summary() const;

private:
    FirmwareImage() = default;

    std::string m_path;
    std::int64_t m_length = 0;
    Bytes m_bytes; // the first bytes of the file, at most one transfer's worth
    std::string m_sha256;
};

} // namespace morvandell
