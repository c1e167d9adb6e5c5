#include "updater/firmwareimage.h"

#include "platform/files.h"
#include "platform/text.h"
#include "updater/sha256.h"
#include "updater/updateprotocol.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace morvandell {

namespace {

// The path as the system writes it (backslashes on Windows).
std::string shown(const std::string& path)
{
    return files::fromPath(files::toPath(path).make_preferred());
}

// What the system said about the last failed file operation.
std::string systemReason(int error)
{
    if (error == 0)
        return "Unbekannter Fehler";
    return std::generic_category().message(error);
}

struct Scan
{
    std::int64_t length = 0;
    std::string sha256;
};

// Reads the whole file once, from start to end: its length and SHA-256, and its first bytes (up to
// one transfer's worth) into *kept when asked. Nothing, with *error set to errno, when it cannot be
// opened or read.
std::optional<Scan> scan(const std::string& path, Bytes* kept, int* error)
{
    errno = 0;
    std::ifstream file(files::toPath(path), std::ios::binary);
    if (!file.is_open()) {
        *error = errno;
        return std::nullopt;
    }
    Scan result;
    Sha256 hash;
    Byte buffer[16384];
    while (file) {
        file.read(reinterpret_cast<char*>(buffer), sizeof buffer);
        const auto got = std::size_t(file.gcount());
        hash.add(buffer, got);
        if (kept && kept->size() < std::size_t(UpdateProtocol::TransferSize)) {
            const std::size_t take = std::min(got, std::size_t(UpdateProtocol::TransferSize) - kept->size());
            append(*kept, buffer, take);
        }
        result.length += std::int64_t(got);
    }
    if (!file.eof()) { // a read error, not the end
        *error = errno;
        return std::nullopt;
    }
    result.sha256 = Sha256::hex(hash.finish());
    return result;
}

} // namespace

std::optional<FirmwareImage> FirmwareImage::load(const std::string& path, std::string* error)
{
    if (!files::exists(path)) {
        *error = text::arg("Die Datei „%1“ existiert nicht.", {shown(path)});
        return std::nullopt;
    }
    if (!files::isRegularFile(path)) {
        *error = text::arg("„%1“ ist keine Datei.", {shown(path)});
        return std::nullopt;
    }
    FirmwareImage image;
    int why = 0;
    const std::optional<Scan> read = scan(path, &image.m_bytes, &why);
    if (!read) {
        *error = text::arg("Die Datei „%1“ kann nicht gelesen werden: %2", {shown(path), systemReason(why)});
        return std::nullopt;
    }
    image.m_path = path;
    image.m_length = read->length;
    image.m_sha256 = read->sha256;
    return image;
}

bool FirmwareImage::unchanged(std::string* error) const
{
    const std::string again = " Es wurde nichts gesendet; bitte die Datei neu laden.";
    if (!files::isRegularFile(m_path)) {
        *error = text::arg("Die Firmware-Datei „%1“ existiert seit dem Laden nicht mehr.", {shown(m_path)}) + again;
        return false;
    }
    int why = 0;
    const std::optional<Scan> now = scan(m_path, nullptr, &why);
    if (!now) {
        *error = text::arg("Die Firmware-Datei „%1“ kann seit dem Laden nicht mehr gelesen werden: %2.",
                           {shown(m_path), systemReason(why)}) +
                 again;
        return false;
    }
    if (now->length != m_length) {
        *error = text::arg("Die Firmware-Datei „%1“ hat sich seit dem Laden geändert (jetzt %2 statt %3 Bytes).",
                           {shown(m_path), now->length, m_length}) +
                 again;
        return false;
    }
    if (now->sha256 != m_sha256) {
        *error = text::arg("Die Firmware-Datei „%1“ hat sich seit dem Laden geändert (gleiche Größe, anderer "
                           "Inhalt: die SHA-256-Prüfsumme weicht ab).",
                           {shown(m_path)}) +
                 again;
        return false;
    }
    return true;
}

void FirmwareImage::readBlock(int block, Byte* out) const
{
    const std::int64_t offset = std::int64_t(std::clamp(block, 1, UpdateProtocol::BlockCount) - 1) *
                                UpdateProtocol::BlockSize;
    const std::int64_t fromFile = std::clamp<std::int64_t>(bytesFromFile() - offset, 0, UpdateProtocol::BlockSize);
    if (fromFile > 0)
        std::copy_n(m_bytes.begin() + offset, fromFile, out);
    std::fill(out + fromFile, out + UpdateProtocol::BlockSize, Padding);
}

Bytes FirmwareImage::block(int block) const
{
    Bytes bytes(UpdateProtocol::BlockSize, Padding);
    readBlock(block, bytes.data());
    return bytes;
}

std::string FirmwareImage::summary() const
{
    return text::arg("%1\n%2 Bytes\nSHA-256 %3", {files::fileName(m_path), m_length, m_sha256});
}

} // namespace morvandell
