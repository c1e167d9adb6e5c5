#include "updater/firmwareimage.h"

#include "updater/updateprotocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace morvandell {

namespace {

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

std::optional<qint64> FirmwareImage::measure(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("Die Datei „%1“ existiert nicht.").arg(shown(path));
        return std::nullopt;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("„%1“ ist keine Datei.").arg(shown(path));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Die Datei „%1“ kann nicht gelesen werden: %2")
                     .arg(shown(path), file.errorString());
        return std::nullopt;
    }
    return file.size();
}

QString FirmwareImage::sha256(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QString FirmwareImage::summary(const QString& path, qint64 length)
{
    const QString digest = sha256(path);
    return QStringLiteral("%1\n%2 Bytes\nSHA-256 %3")
        .arg(QFileInfo(path).fileName())
        .arg(length)
        .arg(digest.isEmpty() ? QStringLiteral("(nicht lesbar)") : digest);
}

FirmwareImage::FirmwareImage(QString path, qint64 recordedLength)
    : m_path(std::move(path))
    , m_recordedLength(std::max<qint64>(recordedLength, 0))
    , m_file(m_path)
{}

qint64 FirmwareImage::bytesFromFile() const
{
    return std::min<qint64>(m_recordedLength, UpdateProtocol::TransferSize);
}

bool FirmwareImage::open(QString* error)
{
    m_file.close();
    if (!QFileInfo::exists(m_path)) {
        *error = QStringLiteral("Die Firmware-Datei „%1“ existiert nicht mehr.").arg(shown(m_path));
        return false;
    }
    // Unbuffered: every block is one positioned read of the file as it is now.
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("Die Firmware-Datei „%1“ kann nicht geöffnet werden: %2")
                     .arg(shown(m_path), m_file.errorString());
        return false;
    }
    if (m_file.size() < bytesFromFile()) {
        *error =
            QStringLiteral("Die Firmware-Datei „%1“ ist seit dem Laden kürzer geworden (%2 statt %3 Bytes). "
                           "Bitte die Datei neu laden.")
                .arg(shown(m_path))
                .arg(m_file.size())
                .arg(m_recordedLength);
        m_file.close();
        return false;
    }
    return true;
}

std::optional<QByteArray> FirmwareImage::block(int block, QString* error)
{
    QByteArray bytes(UpdateProtocol::BlockSize, Padding);
    if (!readBlock(block, bytes.data(), error))
        return std::nullopt;
    return bytes;
}

bool FirmwareImage::readBlock(int block, char* out, QString* error)
{
    if (block < 1 || block > UpdateProtocol::BlockCount) {
        *error = QStringLiteral("Block %1 gibt es nicht.").arg(block);
        return false;
    }
    const qint64 offset = qint64(block - 1) * UpdateProtocol::BlockSize;
    const qint64 fromFile = std::clamp<qint64>(bytesFromFile() - offset, 0, UpdateProtocol::BlockSize);
    std::fill(out + fromFile, out + UpdateProtocol::BlockSize, Padding);
    if (fromFile > 0) {
        if (!m_file.isOpen()) {
            *error = QStringLiteral("Die Firmware-Datei ist nicht geöffnet.");
            return false;
        }
        qint64 got = -1;
        if (m_file.seek(offset))
            got = m_file.read(out, fromFile);
        if (got != fromFile) {
            *error = QStringLiteral("Block %1 der Firmware-Datei „%2“ kann nicht gelesen werden: %3")
                         .arg(block)
                         .arg(shown(m_path),
                              got < 0 ? m_file.errorString()
                                      : QStringLiteral("die Datei ist seit dem Laden kürzer geworden"));
            return false;
        }
    }
    return true;
}

} // namespace morvandell
