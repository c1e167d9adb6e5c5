// The image file as a transfer sends it: 130048 bytes, file bytes up to the length recorded at load time,
// 0xFF beyond it, and a failure (never padding) when the file has lost bytes since it was loaded.

#include "testsupport.h"
#include "updater/firmwareimage.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

using morvandell::FirmwareImage;

namespace {

QByteArray randomBytes(int size)
{
    QByteArray out(size, '\0');
    QRandomGenerator random{quint32(size)};
    for (char& c : out)
        c = char(random.bounded(256));
    return out;
}

// Every block of the transfer, concatenated; empty with *error when a block fails.
QByteArray sendAll(FirmwareImage& image, QString* error)
{
    QByteArray out;
    for (int b = 1; b <= 1016; ++b) {
        const auto block = image.block(b, error);
        if (!block || block->size() != 128)
            return {};
        out += *block;
    }
    return out;
}

} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT
private slots:
    void aTransferCarriesFileBytesUpToTheRecordedLengthThenPadding_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("recorded");
        for (int size : {0, 200, 1000, 130048, 130060, 130084, 130085})
            QTest::addRow("%d bytes", size) << size << size;
        QTest::newRow("grown after loading 200 bytes") << 1000 << 200;
    }
    void aTransferCarriesFileBytesUpToTheRecordedLengthThenPadding()
    {
        QFETCH(int, size);
        QFETCH(int, recorded);
        const QByteArray content = randomBytes(size);
        const QString path = morvandell::test::writeTempFile(QStringLiteral("img%1.bin").arg(size), content);
        QString error;
        QCOMPARE(FirmwareImage::measure(path, &error), std::optional<qint64>(size));
        FirmwareImage image(path, recorded);
        QVERIFY2(image.open(&error), qPrintable(error));
        const QByteArray sent = sendAll(image, &error);
        const int fromFile = qMin(recorded, 130048);
        QCOMPARE(sent.size(), 130048);
        QCOMPARE(sent.left(fromFile), content.left(fromFile));
        QCOMPARE(sent.mid(fromFile), QByteArray(130048 - fromFile, char(0xFF)));
    }

    void aFileThatLostBytesSinceLoadingFailsInsteadOfBeingPadded_data()
    {
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("nowBytes"); // -1: deleted
        QTest::addColumn<bool>("duringTransfer");
        QTest::addColumn<bool>("fails");
        QTest::newRow("deleted before the transfer") << 5000 << -1 << false << true;
        QTest::newRow("truncated before the transfer") << 5000 << 1000 << false << true;
        QTest::newRow("truncated during the transfer") << 5000 << 1000 << true << true;
        QTest::newRow("shortened, still holding every byte sent") << 130060 << 130050 << false << false;
        QTest::newRow("deleted during the transfer: the open file still reads")
            << 5000 << -1 << true << false;
    }
    void aFileThatLostBytesSinceLoadingFailsInsteadOfBeingPadded()
    {
        QFETCH(int, loaded);
        QFETCH(int, nowBytes);
        QFETCH(bool, duringTransfer);
        QFETCH(bool, fails);
        const QByteArray content = randomBytes(loaded);
        const QString path =
            morvandell::test::writeTempFile(QStringLiteral("%1.bin").arg(QTest::currentDataTag()), content);
        auto change = [&] {
            return nowBytes < 0 ? QFile::remove(path) : QFile::resize(path, nowBytes);
        };
        FirmwareImage image(path, loaded);
        QString error;
        if (!duringTransfer)
            QVERIFY(change());
        QByteArray sent;
        if (image.open(&error)) {
            if (duringTransfer)
                QVERIFY(change());
            sent = sendAll(image, &error);
        }
        QCOMPARE(sent.isEmpty(), fails);
        QCOMPARE(error.contains(QFileInfo(path).fileName()), fails);
        if (!fails)
            QCOMPARE(sent.left(qMin(loaded, 130048)), content.left(130048));
    }
};

QTEST_APPLESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
