// The serial-port service over real pseudo-terminals: settings text, port numbers, open failures,
// draining on close, and a device that vanishes while the port is open.
#include "serial/linesettings.h"
#include "serial/portdirectory.h"
#include "serial/serialservice.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace morvandell;
using namespace morvandell::test;

class TestSerialService : public QObject
{
    Q_OBJECT
private slots:
    void parsesSettingsStrictly_data();
    void parsesSettingsStrictly();
    void explicitPortNumbers_data();
    void explicitPortNumbers();
    void systemPortsSortAdaptersFirst();
    void openFailuresCarryTheirNumber_data();
    void openFailuresCarryTheirNumber();
    void bytesPassUnchangedAndCloseDrains();
    void staleInputIsDiscardedOnOpen();
    void closingAClosedPortDoesNothing();
    void changingTheNumberClosesTheOpenPort();
    void vanishedDeviceIsReportedOnceAndClosesThePort();
    void everyOpenAsksForLowLatencyAndARefusalIsNoFailure();
};

void TestSerialService::parsesSettingsStrictly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::newRow("update settings") << "9600,n,8,1" << true << 9600;
    QTest::newRow("upper-case parity") << "19200,N,8,1" << true << 19200;
    QTest::newRow("even parity, 7 bits, 2 stop") << "4800,e,7,2" << true << 4800;
    QTest::newRow("one and a half stop bits") << "9600,n,5,1.5" << true << 9600;
    QTest::newRow("three fields") << "9600,n,8" << false << 0;
    QTest::newRow("five fields") << "9600,n,8,1,x" << false << 0;
    QTest::newRow("blank in a field") << "9600, n,8,1" << false << 0;
    QTest::newRow("baud not a number") << "fast,n,8,1" << false << 0;
    QTest::newRow("negative baud") << "-9600,n,8,1" << false << 0;
    QTest::newRow("unknown parity") << "9600,x,8,1" << false << 0;
    QTest::newRow("nine data bits") << "9600,n,9,1" << false << 0;
    QTest::newRow("three stop bits") << "9600,n,8,3" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
}

void TestSerialService::parsesSettingsStrictly()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, baud);
    QString error;
    const auto parsed = LineSettings::parse(text, &error);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(parsed->baudRate, baud);
        QCOMPARE(LineSettings::parse(parsed->toString()), parsed);
    } else {
        QVERIFY(!error.isEmpty());
        SerialService service(nullptr);
        QVERIFY(!service.setSettings(text));
        QCOMPARE(service.lastError(), SerialError::InvalidSettings);
        QCOMPARE(service.settings(), LineSettings{}); // the old settings stay
    }
}

void TestSerialService::explicitPortNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("mapped"); // "n=device;..."
    QTest::addColumn<bool>("problems");
    QTest::newRow("two ports") << "1=/dev/pts/3,5=/dev/ttyUSB0"
                               << "1=/dev/pts/3;5=/dev/ttyUSB0" << false;
    QTest::newRow("blanks tolerated") << " 2 = /dev/ttyS1 "
                                      << "2=/dev/ttyS1" << false;
    QTest::newRow("number above 16 skipped") << "17=/dev/x,3=/dev/y"
                                             << "3=/dev/y" << true;
    QTest::newRow("zero skipped") << "0=/dev/x"
                                  << "" << true;
    QTest::newRow("no device skipped") << "4="
                                       << "" << true;
    QTest::newRow("not a number skipped") << "a=/dev/x"
                                          << "" << true;
    QTest::newRow("empty") << ""
                           << "" << false;
}

void TestSerialService::explicitPortNumbers()
{
    QFETCH(QString, text);
    QFETCH(QString, mapped);
    QFETCH(bool, problems);
    QString error;
    const auto entries = PortDirectory::parseExplicit(text, &error);
    QStringList got;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        got << QStringLiteral("%1=%2").arg(it.key()).arg(it.value().device);
    QCOMPARE(got.join(QLatin1Char(';')), mapped);
    QCOMPARE(!error.isEmpty(), problems);
}

void TestSerialService::systemPortsSortAdaptersFirst()
{
    const QStringList sorted = PortDirectory::sortedSystemPorts(
        {"ttyS10", "ttyS2", "ttyACM1", "ttyUSB10", "rfcomm0", "ttyUSB2", "ttyACM0", "ttyS0"});
    QCOMPARE(sorted, QStringList({"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyACM1", "rfcomm0", "ttyS0", "ttyS2",
                                  "ttyS10"}));
}

void TestSerialService::openFailuresCarryTheirNumber_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("error");
    QTest::newRow("number not in the directory") << "unmapped" << SerialError::NoDevice;
    QTest::newRow("device file missing") << "missing" << SerialError::NoDevice;
    QTest::newRow("in use by another program") << "busy" << SerialError::Unavailable;
    QTest::newRow("already open here") << "twice" << SerialError::AlreadyOpen;
}

void TestSerialService::openFailuresCarryTheirNumber()
{
    QFETCH(QString, kind);
    QFETCH(int, error);
    PtyPair pty;
    QVERIFY(pty.isValid());
    const QString device =
        kind == "missing" ? QStringLiteral("/dev/morvandell-no-such-device") : pty.slavePath();
    SerialService service(directoryOf({{3, device}}));
    QSerialPort other;
    if (kind == "busy") {
        other.setPortName(pty.slavePath());
        QVERIFY(other.open(QIODevice::ReadWrite));
    }
    service.setCommPort(kind == "unmapped" ? 4 : 3);
    if (kind == "twice")
        QVERIFY(service.open());
    QVERIFY(!service.open());
    QCOMPARE(service.lastError(), error);
    QVERIFY(!service.describeLastError().isEmpty());
    if (kind == "busy") {
        QCOMPARE(service.lastCause(), SerialService::Cause::Busy);
        QVERIFY2(service.describeLastError().contains(QLatin1String("belegt")),
                 qPrintable(service.describeLastError()));
        QVERIFY(!service.isOpen());
    }
}

void TestSerialService::bytesPassUnchangedAndCloseDrains()
{
    PtyPair pty;
    SerialService service(directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    QVERIFY(service.open());
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    QVERIFY(service.output(all));
    QVERIFY(service.output(all));
    service.close(); // at once: the bytes must still leave
    QVERIFY(!service.isOpen());
    QCOMPARE(pty.readMaster(2000, 512), all + all);

    QVERIFY(!service.output("x"));
    QCOMPARE(service.lastError(), SerialError::NotOpen);
}

void TestSerialService::staleInputIsDiscardedOnOpen()
{
    PtyPair pty;
    SerialService service(directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    QVERIFY(pty.writeMaster("stale bytes"));
    QTest::qWait(50);
    QVERIFY(service.open());
    QSignalSpy received(&service, &SerialService::received);
    QVERIFY(pty.writeMaster("fresh"));
    QVERIFY(waitUntil([&] { return received.count() > 0; }, 2000));
    QByteArray got;
    QVERIFY(waitUntil(
        [&] {
            got += service.input();
            return got.size() >= 5;
        },
        2000));
    QCOMPARE(got, QByteArray("fresh"));
}

void TestSerialService::closingAClosedPortDoesNothing()
{
    SerialService service(nullptr);
    service.close();
    service.close();
    QVERIFY(!service.isOpen());
    QCOMPARE(service.lastError(), SerialError::None);
}

void TestSerialService::changingTheNumberClosesTheOpenPort()
{
    PtyPair a, b;
    SerialService service(directoryOf({{1, a.slavePath()}, {2, b.slavePath()}}));
    service.setCommPort(1);
    QVERIFY(service.open());
    QVERIFY(service.output("to one"));
    service.setCommPort(1); // same number: stays open
    QVERIFY(service.isOpen());
    service.setCommPort(2);
    QVERIFY(!service.isOpen());
    QCOMPARE(a.readMaster(1000, 6), QByteArray("to one"));
    QVERIFY(service.open());
    QCOMPARE(service.devicePath(), b.slavePath());
}

void TestSerialService::vanishedDeviceIsReportedOnceAndClosesThePort()
{
    PtyPair pty;
    SerialService service(directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    QVERIFY(service.open());
    QSignalSpy lost(&service, &SerialService::deviceLost);
    pty.closeMaster(); // the cable is pulled
    QVERIFY(waitUntil([&] { return lost.count() > 0; }, 3000));
    QTest::qWait(300); // a storm of read errors would show up as more signals here
    QCOMPARE(lost.count(), 1);
    QVERIFY(!service.isOpen());
    QCOMPARE(service.lastError(), SerialError::DeviceGone);
    // The reason is what happened now, not the text of an earlier call such as a refused modem-line ioctl.
    QCOMPARE(lost.at(0).at(0).toString(), service.lastErrorText());
    QVERIFY2(service.lastErrorText().contains(QLatin1String("getrennt")),
             qPrintable(service.lastErrorText()));
    QVERIFY(!service.output("x"));
}

void TestSerialService::everyOpenAsksForLowLatencyAndARefusalIsNoFailure()
{
    PtyPair pty;
    SerialService service(directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    QCOMPARE(service.lowLatency(), LowLatency::Outcome::NotRequested);
    // A pseudo-terminal refuses the request; the open succeeds all the same.
    QVERIFY(service.open());
    QCOMPARE(service.lowLatency(), LowLatency::Outcome::Unsupported);
    service.close();

    QList<int> asked;
    LowLatency::setHook([&](int fd) {
        asked << fd;
        return LowLatency::Outcome::Set;
    });
    QVERIFY(service.open());
    service.close();
    QVERIFY(service.setSettings(QStringLiteral("9600,n,8,1")) && service.open());
    LowLatency::setHook({});
    QCOMPARE(asked.size(), 2);
    QVERIFY(asked[0] >= 0 && asked[1] >= 0);
    QCOMPARE(service.lowLatency(), LowLatency::Outcome::Set);
}

QTEST_GUILESS_MAIN(TestSerialService)
#include "tst_serialservice.moc"
