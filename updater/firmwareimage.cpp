#include "updater/firmwareimage.h"

#include "platform/files.h"
#include "platform/text.h"
#include "updater/sha256.h"
#include "updater/updateprotocol.h"

#include <algorithm>
#include <cerrno>
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

// The length of an open file, from the stream's end; the read position is left at the start.
std::optional<std::int64_t> lengthOf(std::ifstream& file)
{
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    file.clear();
    file.seekg(0, std::ios::beg);
    if (end < 0)
        return std::nullopt;
    return std::int64_t(end);
}

} // namespace

std::optional<std::int64_t> FirmwareImage::measure(const std::string& path, std::string* error)
{
    if (!files::exists(path)) {
        *error = text::arg("Die Datei „%1“ existiert nicht.", {shown(path)});
        return std::nullopt;
    }
    if (!files::isRegularFile(path)) {
        *error = text::arg("„%1“ ist keine Datei.", {shown(path)});
        return std::nullopt;
    }
    errno = 0;
    std::ifstream file(files::toPath(path), std::ios::binary);
    std::optional<std::int64_t> length;
    if (file.is_open())
        length = lengthOf(file);
    if (!length) {
        *error =
            text::arg("Die Datei „%1“ kann nicht gelesen werden: %2", {shown(path), systemReason(errno)});
        return std::nullopt;
    }
    return length;
}

std::string FirmwareImage::sha256(const std::string& path)
{
    std::ifstream file(files::toPath(path), std::ios::binary);
    if (!file.is_open())
        return {};
    Sha256 hash;
    Byte buffer[16384];
    while (file) {
        file.read(reinterpret_cast<char*>(buffer), sizeof buffer);
        hash.add(buffer, std::size_t(file.gcount()));
    }
    if (!file.eof())
        return {}; // a read error, not the end
    return Sha256::hex(hash.finish());
}

std::string FirmwareImage::summary(const std::string& path, std::int64_t length)
{
    const std::string digest = sha256(path);
    return text::arg("%1\n%2 Bytes\nSHA-256 %3", {files::fileName(path), length,
                                                  digest.empty() ? std::string("(nicht lesbar)") : digest});
}

FirmwareImage::FirmwareImage(std::string path, std::int64_t recordedLength)
    : m_path(std::move(path))
    , m_recordedLength(std::max<std::int64_t>(recordedLength, 0))
{}

std::int64_t FirmwareImage::bytesFromFile() const
{
    return std::min<std::int64_t>(m_recordedLength, UpdateProtocol::TransferSize);
}

bool FirmwareImage::open(std::string* error)
{
    m_file.close();
    m_file.clear();
    if (!files::exists(m_path)) {
        *error = text::arg("Die Firmware-Datei „%1“ existiert nicht mehr.", {shown(m_path)});
        return false;
    }
    // Unbuffered: every block is one positioned read of the file as it is now.
    m_file.rdbuf()->pubsetbuf(nullptr, 0);
    errno = 0;
    m_file.open(files::toPath(m_path), std::ios::binary);
    std::optional<std::int64_t> length;
    if (m_file.is_open())
        length = lengthOf(m_file);
    if (!length) {
        *error = text::arg("Die Firmware-Datei „%1“ kann nicht geöffnet werden: %2",
                           {shown(m_path), systemReason(errno)});
        m_file.close();
        return false;
    }
    if (*length < bytesFromFile()) {
        *error = text::arg("Die Firmware-Datei „%1“ ist seit dem Laden kürzer geworden (%2 statt %3 Bytes). "
                           "Bitte die Datei neu laden.",
                           {shown(m_path), *length, m_recordedLength});
        m_file.close();
        return false;
    }
    return true;
}

std::optional<Bytes> FirmwareImage::block(int block, std::string* error)
{
    Bytes bytes(UpdateProtocol::BlockSize, Padding);
    if (!readBlock(block, bytes.data(), error))
        return std::nullopt;
    return bytes;
}

bool FirmwareImage::readBlock(int block, Byte* out, std::string* error)
{
    if (block < 1 || block > UpdateProtocol::BlockCount) {
        *error = text::arg("Block %1 gibt es nicht.", {block});
        return false;
    }
    const std::int64_t offset = std::int64_t(block - 1) * UpdateProtocol::BlockSize;
    const std::int64_t fromFile =
        std::clamp<std::int64_t>(bytesFromFile() - offset, 0, UpdateProtocol::BlockSize);
    std::fill(out + fromFile, out + UpdateProtocol::BlockSize, Padding);
    if (fromFile == 0)
        return true;
    if (!m_file.is_open()) {
        *error = "Die Firmware-Datei ist nicht geöffnet.";
        return false;
    }
    errno = 0;
    m_file.clear();
    std::int64_t got = -1;
    if (m_file.seekg(offset, std::ios::beg)) {
        m_file.read(reinterpret_cast<char*>(out), std::streamsize(fromFile));
        got = m_file.gcount();
    }
    if (got == fromFile)
        return true;
    const bool shorter = got >= 0 && m_file.eof();
    *error = text::arg(
        "Block %1 der Firmware-Datei „%2“ kann nicht gelesen werden: %3",
        {block, shown(m_path),
         shorter ? std::string("die Datei ist seit dem Laden kürzer geworden") : systemReason(errno)});
    m_file.clear();
    return false;
}

} // namespace morvandell
