// The image file as a transfer sends it: 1016 blocks of 128 bytes, file bytes up to the recorded length,
// 0xFF beyond it, and a failure (never padding) when the file lost bytes after it was loaded.

#include "testsupport.h"
#include "updater/firmwareimage.h"
#include "updater/updateprotocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using morvandell::FirmwareImage;
using morvandell::UpdateProtocol;

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    QRandomGenerator random(seed);
    for (char& c : out)
        c = char(random.bounded(256));
    return out;
}

// Every block of the transfer, concatenated; empty with *error when a block fails.
QByteArray sendAll(FirmwareImage& image, QString* error)
{
    QByteArray out;
    for (int b = 1; b <= UpdateProtocol::BlockCount; ++b) {
        const auto block = image.block(b, error);
        if (!block)
            return {};
        if (block->size() != UpdateProtocol::BlockSize) {
            *error = QStringLiteral("block %1 has %2 bytes").arg(b).arg(block->size());
            return {};
        }
        out += *block;
    }
    return out;
}

void truncateFile(const QString& path, qint64 size)
{
    QFile file(path);
    QVERIFY(file.resize(size));
}

} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT
private slots:
    void aTransferCarriesFileBytesUpToTheLengthThenPadding_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("fileBytesSent");
        QTest::newRow("empty file") << 0 << 0;
        QTest::newRow("200 bytes") << 200 << 200;
        QTest::newRow("1000 bytes") << 1000 << 1000;
        QTest::newRow("one block and one byte") << 129 << 129;
        QTest::newRow("exactly the transfer size") << 130048 << 130048;
        QTest::newRow("130060 bytes: the last 12 never go") << 130060 << 130048;
        QTest::newRow("at the size limit") << 130084 << 130048;
        QTest::newRow("above the size limit") << 130085 << 130048;
    }
    void aTransferCarriesFileBytesUpToTheLengthThenPadding()
    {
        QFETCH(int, size);
        QFETCH(int, fileBytesSent);
        const QByteArray content = randomBytes(size, quint32(size) + 7);
        const QString path = morvandell::test::writeTempFile(QStringLiteral("img%1.bin").arg(size), content);
        QString error;
        QCOMPARE(FirmwareImage::measure(path, &error), std::optional<qint64>(size));

        FirmwareImage image(path, size);
        QVERIFY2(image.open(&error), qPrintable(error));
        const QByteArray sent = sendAll(image, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(sent.size(), 130048);
        QCOMPARE(sent.left(fileBytesSent), content.left(fileBytesSent));
        QCOMPARE(sent.mid(fileBytesSent), QByteArray(130048 - fileBytesSent, char(0xFF)));
    }

    void theLengthRecordedAtLoadDecidesNotTheFilesLengthNow()
    {
        // The file grew after loading: positions beyond the recorded 200 bytes are still padding.
        const QByteArray content = randomBytes(1000, 3);
        const QString path = morvandell::test::writeTempFile(QStringLiteral("grown.bin"), content);
        FirmwareImage image(path, 200);
        QString error;
        QVERIFY2(image.open(&error), qPrintable(error));
        const QByteArray sent = sendAll(image, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(sent.left(200), content.left(200));
        QCOMPARE(sent.mid(200), QByteArray(130048 - 200, char(0xFF)));
    }

    void aFileThatLostBytesSinceLoadingFailsInsteadOfBeingPadded_data()
    {
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("nowBytes");   // -1: deleted
        QTest::addColumn<bool>("afterOpen"); // changed while the transfer runs
        QTest::addColumn<bool>("fails");
        QTest::newRow("deleted before the transfer") << 5000 << -1 << false << true;
        QTest::newRow("truncated before the transfer") << 5000 << 1000 << false << true;
        QTest::newRow("emptied before the transfer") << 5000 << 0 << false << true;
        QTest::newRow("truncated during the transfer") << 5000 << 1000 << true << true;
        QTest::newRow("shortened but still holding every byte sent") << 130060 << 130050 << false << false;
        QTest::newRow("deleted during the transfer: the open file still reads")
            << 5000 << -1 << true << false;
    }
    void aFileThatLostBytesSinceLoadingFailsInsteadOfBeingPadded()
    {
        QFETCH(int, loaded);
        QFETCH(int, nowBytes);
        QFETCH(bool, afterOpen);
        QFETCH(bool, fails);
        const QByteArray content = randomBytes(loaded, 11);
        const QString path = morvandell::test::writeTempFile(
            QStringLiteral("changing%1.bin").arg(QTest::currentDataTag()), content);
        FirmwareImage image(path, loaded);
        QString error;
        auto change = [&] {
            if (nowBytes < 0)
                QVERIFY(QFile::remove(path));
            else
                truncateFile(path, nowBytes);
        };
        if (!afterOpen)
            change();
        const bool opened = image.open(&error);
        QByteArray sent;
        if (opened) {
            if (afterOpen)
                change();
            sent = sendAll(image, &error);
        }
        if (fails) {
            QVERIFY(sent.isEmpty());
            QVERIFY(!error.isEmpty());
            QVERIFY2(error.contains(QFileInfo(path).fileName()), qPrintable(error));
        } else {
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QCOMPARE(sent.left(qMin(loaded, 130048)), content.left(130048));
        }
    }

    void loadingRefusesWhatCannotBeReadAndCreatesNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << QStringLiteral("missing");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("no read permission") << QStringLiteral("unreadable");
    }
    void loadingRefusesWhatCannotBeReadAndCreatesNothing()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("firmware.bin"));
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("firmware.bin")));
        } else if (kind == QLatin1String("unreadable")) {
            if (::geteuid() == 0)
                QSKIP("root reads every file");
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("abc");
            file.close();
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
        }
        QString error;
        QCOMPARE(FirmwareImage::measure(path, &error), std::nullopt);
        QVERIFY2(error.contains(QStringLiteral("firmware.bin")), qPrintable(error));
        if (kind == QLatin1String("missing"))
            QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_APPLESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
