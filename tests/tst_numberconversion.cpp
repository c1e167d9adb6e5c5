#include "catalogue/numberconversion.h"

#include <QTest>

#include <limits>

using namespace morvandell;

class TestNumberConversion : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
};

void TestNumberConversion::convert_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<bool>("inRange");

    constexpr qint64 max = std::numeric_limits<qint64>::max();

    // Leading number, rest ignored.
    QTest::newRow("plain") << "12" << qint64(12) << true;
    QTest::newRow("element close") << "10/>" << qint64(10) << true;
    QTest::newRow("letters after") << "12abc" << qint64(12) << true;
    QTest::newRow("comma is no point") << "2,5" << qint64(2) << true;
    QTest::newRow("point last") << "5." << qint64(5) << true;
    // Digits before the point are required: a point first is no number.
    QTest::newRow("point first") << ".6" << qint64(0) << true;
    QTest::newRow("sign and point first") << "-.5e3" << qint64(0) << true;
    // No number.
    QTest::newRow("empty") << "" << qint64(0) << true;
    QTest::newRow("letters") << "abc" << qint64(0) << true;
    QTest::newRow("point only") << "." << qint64(0) << true;
    QTest::newRow("leading blank") << " 5" << qint64(0) << true;
    // Half to even.
    QTest::newRow("0.5") << "0.5" << qint64(0) << true;
    QTest::newRow("1.5") << "1.5" << qint64(2) << true;
    QTest::newRow("2.5") << "2.5" << qint64(2) << true;
    QTest::newRow("3.5") << "3.5" << qint64(4) << true;
    QTest::newRow("254.5") << "254.5" << qint64(254) << true;
    QTest::newRow("-0.5 is zero") << "-0.5" << qint64(0) << true;
    // More digits than a double holds: a hair above or below a half still decides.
    QTest::newRow("hair above 2.5") << "2.50000000000000001" << qint64(3) << true;
    QTest::newRow("hair below 255.5") << "255.49999999999999999" << qint64(255) << true;
    QTest::newRow("hair below -0.5") << "-0.50000000000000001" << qint64(-1) << false;
    QTest::newRow("hair below 49.5") << "49.49999999999999999" << qint64(49) << true;
    QTest::newRow("half after a shifted point") << "25e-1" << qint64(2) << true;
    QTest::newRow("zeros before the digits") << "000.0000049e6" << qint64(5) << true;
    // Exponents.
    QTest::newRow("exponent") << "1e2" << qint64(100) << true;
    QTest::newRow("negative exponent half") << "15e-1" << qint64(2) << true;
    QTest::newRow("exponent without digits") << "1e" << qint64(1) << true;
    QTest::newRow("small mantissa big exponent")
        << "0.00000000000000000000000000000000000001e40" << qint64(100) << true;
    QTest::newRow("big mantissa small exponent")
        << "1000000000000000000000000000000000000000e-37" << qint64(100) << true;
    QTest::newRow("tiny") << "1e-400" << qint64(0) << true;
    // Out of 0..255: reported, never wrapped.
    QTest::newRow("255") << "255" << qint64(255) << true;
    QTest::newRow("255.5 rounds up") << "255.5" << qint64(256) << false;
    QTest::newRow("300") << "300" << qint64(300) << false;
    QTest::newRow("-1") << "-1" << qint64(-1) << false;
    QTest::newRow("-0.6") << "-0.6" << qint64(-1) << false;
    QTest::newRow("1e400") << "1e400" << max << false;
    QTest::newRow("huge exponent") << "1e99999999999999999999" << max << false;
}

void TestNumberConversion::convert()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);
    QFETCH(bool, inRange);
    const ConvertedNumber result = convertNumber(text);
    QCOMPARE(result.value, value);
    QCOMPARE(result.inRange, inRange);
}

QTEST_GUILESS_MAIN(TestNumberConversion)
#include "tst_numberconversion.moc"
