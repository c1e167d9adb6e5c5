// Command frames, byte for byte.
#include "writer/framebuilder.h"

#include <QTest>

using namespace morvandell;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace

class TestFrameBuilder : public QObject
{
    Q_OBJECT
private slots:
    void framesAreExact_data();
    void framesAreExact();
    void textIsFittedToItsField_data();
    void textIsFittedToItsField();
};

void TestFrameBuilder::framesAreExact_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("slot 2 RPM") << FrameBuilder::slotFrame(2, "RPM", 12, 1, "rpm")
                                << hex("55 01 00 20 52 50 4D 20 20 20 20 20 00 0C 01 72 70 6D 00 00 00 0D");
    QTest::newRow("unassigned slot 8, empty boxes")
        << FrameBuilder::slotFrame(8, "", 0, 0, "")
        << hex("55 01 00 80 20 20 20 20 20 20 20 20 00 00 00 20 20 20 00 00 00 0D");
    QTest::newRow("channel 13 and divider 0x55 travel unescaped")
        << FrameBuilder::slotFrame(1, "Oil_P", 13, 0x55, "bar")
        << hex("55 01 00 10 4F 69 6C 5F 50 20 20 20 00 0D 55 62 61 72 00 00 00 0D");
    QTest::newRow("settings as loaded")
        << FrameBuilder::settingsFrame(1)
        << hex("55 01 00 90 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    QTest::newRow("settings page 3")
        << FrameBuilder::settingsFrame(3)
        << hex("55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    QTest::newRow("settings nothing selected")
        << FrameBuilder::settingsFrame(0)
        << hex("55 01 00 90 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    QTest::newRow("connect") << FrameBuilder::connectFrame()
                             << hex("55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    QTest::newRow("reset") << FrameBuilder::resetFrame()
                           << hex("55 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    QTest::newRow("update") << FrameBuilder::updateFrame()
                            << hex("55 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
}

void TestFrameBuilder::framesAreExact()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.size(), 22);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
}

void TestFrameBuilder::textIsFittedToItsField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("short name padded") << "RPM" << 8 << QByteArray("RPM     ");
    QTest::newRow("long name cut") << "Coolant_Temperature" << 8 << QByteArray("Coolant_");
    QTest::newRow("blanks kept, not trimmed") << " a " << 8 << QByteArray(" a      ");
    QTest::newRow("unit V") << "V" << 3 << QByteArray("V  ");
    QTest::newRow("empty unit") << "" << 3 << QByteArray("   ");
    QTest::newRow("umlaut through windows-1252") << QString::fromUtf8("Öl°C") << 8
                                                 << QByteArray("\xD6l\xB0"
                                                               "C    ");
    QTest::newRow("euro sign") << QString::fromUtf8("€") << 3 << QByteArray("\x80  ");
    QTest::newRow("missing character becomes ?") << QString::fromUtf8("Ωk") << 3 << QByteArray("?k ");
    QTest::newRow("character outside the BMP is one ?") << QString::fromUtf8("a😀b") << 3 << QByteArray("a?b");
    QTest::newRow("cut after conversion keeps the width")
        << QString::fromUtf8("ΩΩΩΩΩΩΩΩΩΩ") << 8 << QByteArray("????????");
}

void TestFrameBuilder::textIsFittedToItsField()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QByteArray, bytes);
    QCOMPARE(FrameBuilder::fitText(text, width), bytes);
}

QTEST_GUILESS_MAIN(TestFrameBuilder)
#include "tst_framebuilder.moc"
