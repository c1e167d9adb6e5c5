#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

namespace morvandell {

// The image file as a transfer sends it: 1016 blocks of 128 bytes. Transfer position p (from 1) carries
// the file's byte at offset p - 1 while p is at most the length recorded at load time, else 0xFF.
// The file is read with one positioned read per block; a file that no longer holds the recorded bytes
// is an error, never padding.
class FirmwareImage
{
public:
    static constexpr qint64 SizeLimit = 130084; // larger files are only warned about
    static constexpr char Padding = char(0xFF);

    // Length of the file at `path`, for loading. Nothing (with *error in German) when it does not exist,
    // is not a regular file or cannot be read. Never creates a file.
    static std::optional<qint64> measure(const QString& path, QString* error);
    static bool isTooLarge(qint64 length) { return length > SizeLimit; }
    // SHA-256 of the whole file, as 64 lower-case hex digits; empty when it cannot be read.
    static QString sha256(const QString& path);
    // What was loaded, for the user: name, size and SHA-256, one item a line.
    static QString summary(const QString& path, qint64 length);

    FirmwareImage(QString path, qint64 recordedLength);
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

    // Opens the file and checks that it still holds every byte the transfer will take from it.
    bool open(QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    void close() { m_file.close(); }

    // Block `block` (1..1016): exactly 128 bytes, or nothing (with *error) when the file fails.
    std::optional<QByteArray> block(int block, QString* error);
    // The same into `out` (128 bytes), without allocating: the transfer's per-block read.
    bool readBlock(int block, char* out, QString* error);

    // How many bytes of the transfer come from the file.
    qint64 bytesFromFile() const;

    QString path() const { return m_path; }
    qint64 recordedLength() const { return m_recordedLength; }

private:
    QString m_path;
    qint64 m_recordedLength = 0;
    QFile m_file;
};

} // namespace morvandell
