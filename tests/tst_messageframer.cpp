// Device messages: framing of the received byte stream and decoding into log lines.
#include "writer/messageframer.h"

#include <QRandomGenerator>
#include <QTest>

using namespace morvandell;

namespace {

QByteArray message(quint8 type, const QByteArray& payload, quint8 hi = 0, quint8 lo = 0)
{
    QByteArray m;
    m.append('\x55');
    m.append(static_cast<char>(type));
    m.append(static_cast<char>(hi));
    m.append(static_cast<char>(lo));
    QByteArray p = payload.left(16);
    p.append(QByteArray(16 - p.size(), '\0'));
    m.append(p);
    m.append("\r\n");
    return m;
}

QStringList linesOf(const QList<DeviceMessage>& messages)
{
    QStringList out;
    for (const auto& m : messages)
        out << m.logLine(QStringLiteral("14:03:22"));
    return out;
}

} // namespace

class TestMessageFramer : public QObject
{
    Q_OBJECT
private slots:
    void decodesEachMessageType_data();
    void decodesEachMessageType();
    void framesEveryMessageInArrivalOrder_data();
    void framesEveryMessageInArrivalOrder();
    void splitDeliveryDecodesLikeOnePiece();
    void bufferStaysBoundedUnderEndlessNoise();
    void longTimeHasNoTimeZone();
};

void TestMessageFramer::decodesEachMessageType_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("text") << message(0, "OK") << "14:03:22 -> OK";
    QTest::newRow("empty text") << message(0, "") << "14:03:22 -> ";
    QTest::newRow("sixteen characters, no zero")
        << message(0, "ABCDEFGHIJKLMNOP") << "14:03:22 -> ABCDEFGHIJKLMNOP";
    QTest::newRow("text ends at first zero") << message(0, QByteArray("AB\0CD", 5)) << "14:03:22 -> AB";
    QTest::newRow("write sdram") << message(0, "Write SDram") << "14:03:22 -> Write SDram @ 0x0";
    QTest::newRow("write sdram is case-sensitive") << message(0, "write sdram") << "14:03:22 -> write sdram";
    QTest::newRow("eeprom report") << message(2, "xxxxxxxxxxxxxxxx", 0x01, 0x30)
                                   << "14:03:22->  ReadEEProm @ 0x130";
    QTest::newRow("eeprom report at 0") << message(2, "", 0, 0) << "14:03:22->  ReadEEProm @ 0x0";
    QTest::newRow("eeprom report upper hex")
        << message(2, "", 0xAB, 0xCD) << "14:03:22->  ReadEEProm @ 0xABCD";
    QTest::newRow("identification") << message(253, "V1.2") << "14:03:22->  online Firmware: V1.2";
    QTest::newRow("windows-1252 payload")
        << message(0, "\xD6l \x80") << QString::fromUtf8("14:03:22 -> Öl €");
    QTest::newRow("unknown type") << message(7, "X") << QString();
}

void TestMessageFramer::decodesEachMessageType()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    MessageFramer framer;
    const auto messages = framer.feed(bytes);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().bytes, bytes);
    QCOMPARE(messages.first().logLine(QStringLiteral("14:03:22")), line);
    QVERIFY(framer.buffer().isEmpty());
}

void TestMessageFramer::framesEveryMessageInArrivalOrder_data()
{
    const QByteArray a = message(0, "first");
    const QByteArray b = message(0, "second");
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("leftInBuffer");

    const QStringList both{"14:03:22 -> first", "14:03:22 -> second"};
    QTest::newRow("two messages in one read") << QList<QByteArray>{a + b} << both << 0;
    QTest::newRow("message followed by start of next")
        << QList<QByteArray>{a + b.left(5), b.mid(5)} << both << 0;
    QTest::newRow("cr and lf in different reads")
        << QList<QByteArray>{a.left(21), a.mid(21)} << QStringList{"14:03:22 -> first"} << 0;
    QTest::newRow("noise before a message")
        << QList<QByteArray>{QByteArray("garbage\r\n") + a} << QStringList{"14:03:22 -> first"} << 0;
    QTest::newRow("noise containing U between messages")
        << QList<QByteArray>{a + QByteArray("xUUx\x55zz") + b} << both << 0;
    QTest::newRow("short CR LF line before a message")
        << QList<QByteArray>{QByteArray("OK\r\n"), a} << QStringList{"14:03:22 -> first"} << 0;
    QTest::newRow("payload CR LF inside a message")
        << QList<QByteArray>{message(0, QByteArray("ab\r\ncd", 6))} << QStringList{"14:03:22 -> ab\r\ncd"}
        << 0;
    QTest::newRow("incomplete tail waits")
        << QList<QByteArray>{a + b.left(10)} << QStringList{"14:03:22 -> first"} << 10;
    QTest::newRow("U without CR LF at 21-22 is dropped")
        << QList<QByteArray>{QByteArray(22, '\x55') + a} << QStringList{"14:03:22 -> first"} << 0;
    QTest::newRow("empty read") << QList<QByteArray>{QByteArray()} << QStringList{} << 0;
}

void TestMessageFramer::framesEveryMessageInArrivalOrder()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, lines);
    QFETCH(int, leftInBuffer);
    MessageFramer framer;
    QList<DeviceMessage> all;
    for (const QByteArray& read : reads)
        all += framer.feed(read);
    QCOMPARE(linesOf(all), lines);
    QCOMPARE(framer.buffer().size(), leftInBuffer);
}

void TestMessageFramer::splitDeliveryDecodesLikeOnePiece()
{
    QByteArray stream;
    for (int i = 0; i < 50; ++i) {
        stream += message(static_cast<quint8>(i % 3 == 0 ? 0 : (i % 3 == 1 ? 2 : 253)),
                          QByteArray::number(i) + "\x55\r\n", 0, static_cast<quint8>(i));
        if (i % 7 == 0)
            stream += "noise\x55\r\n";
    }
    MessageFramer whole;
    const QStringList expected = linesOf(whole.feed(stream));
    QCOMPARE(expected.size(), 50);

    MessageFramer bytewise;
    QList<DeviceMessage> got;
    for (char c : stream)
        got += bytewise.feed(QByteArray(1, c));
    QCOMPARE(linesOf(got), expected);

    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 20; ++round) {
        MessageFramer random;
        QList<DeviceMessage> pieces;
        for (qsizetype pos = 0; pos < stream.size();) {
            const int n = rng->bounded(1, 60);
            pieces += random.feed(stream.mid(pos, n));
            pos += n;
        }
        QCOMPARE(linesOf(pieces), expected);
    }
}

void TestMessageFramer::bufferStaysBoundedUnderEndlessNoise()
{
    MessageFramer framer;
    const QByteArray noise(4096, '\x55');
    for (int i = 0; i < 256; ++i) {
        QVERIFY(framer.feed(noise).isEmpty());
        QVERIFY(framer.buffer().size() < DeviceMessage::Size);
    }
    QCOMPARE(framer.feed(message(0, "after")).size(), 1);
}

void TestMessageFramer::longTimeHasNoTimeZone()
{
    const QString text = longTimeText(QTime(14, 3, 22));
    QVERIFY2(text.startsWith(QLatin1String("14:03:22")) || text.contains(QLatin1String("2:03:22")),
             qPrintable(text));
    QVERIFY2(!text.contains(QLatin1String("UTC")) && !text.endsWith(QLatin1Char(' ')), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestMessageFramer)
#include "tst_messageframer.moc"
