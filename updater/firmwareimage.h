#pragma once

#include "platform/bytes.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace morvandell {

// The image file as a transfer sends it: 1016 blocks of 128 bytes. Transfer position p (from 1) carries
// the file's byte at offset p - 1 while p is at most the length recorded at load time, else 0xFF.
// The file is read with one positioned read per block; a file that no longer holds the recorded bytes
// is an error, never padding. Paths and messages are UTF-8.
class FirmwareImage
{
public:
    static constexpr std::int64_t SizeLimit = 130084; // larger files are only warned about
    static constexpr Byte Padding = 0xFF;

    // Length of the file at `path`, for loading. Nothing (with *error in German) when it does not exist,
    // is not a regular file or cannot be read. Never creates a file.
    static std::optional<std::int64_t> measure(const std::string& path, std::string* error);
    static bool isTooLarge(std::int64_t length) { return length > SizeLimit; }
    // SHA-256 of the whole file, as 64 lower-case hex digits; empty when it cannot be read.
    static std::string sha256(const std::string& path);
    // What was loaded, for the user: name, size and SHA-256, one item a line.
    static std::string summary(const std::string& path, std::int64_t length);

    FirmwareImage(std::string path, std::int64_t recordedLength);
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

    // Opens the file and checks that it still holds every byte the transfer will take from it.
    bool open(std::string* error);
    bool isOpen() const { return m_file.is_open(); }
    void close() { m_file.close(); }

    // Block `block` (1..1016): exactly 128 bytes, or nothing (with *error) when the file fails.
    std::optional<Bytes> block(int block, std::string* error);
    // The same into `out` (128 bytes), without allocating: the transfer's per-block read.
    bool readBlock(int block, Byte* out, std::string* error);

    // How many bytes of the transfer come from the file.
    std::int64_t bytesFromFile() const;

    const std::string& path() const { return m_path; }
    std::int64_t recordedLength() const { return m_recordedLength; }

private:
    std::string m_path;
    std::int64_t m_recordedLength = 0;
    std::ifstream m_file;
};

} // namespace morvandell
