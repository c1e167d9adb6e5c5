// Fuzz target for the line-settings text ("9600,n,8,1") of the serial service.
//
// Input: byte 0 picks how the rest becomes text (even: Latin-1, odd: UTF-8); bytes 1.. are the text.
// The same bytes also give a line-settings value of their own (see valueFrom) for the round trip.
//
// Properties:
// - parse accepts exactly the texts of four comma-separated fields of the allowed forms, decided
//   here independently: baud rate ASCII digits with value 50..4000000, parity one letter of
//   n e o m s (either case), data bits ASCII digits with value 5..8, stop bits "1", "1.5" or "2";
//   an accepted text gives those values, a rejected one an error text;
// - a parsed value printed with toString() parses back to the same value and prints the same;
// - every valid value prints as a text that parses back to it.
#include "fuzzcheck.h"
#include "serial/linesettings.h"

#include <QStringList>

#include <cstdint>
#include <optional>

using morvandell::LineSettings;

namespace {

// The decimal value of a field of ASCII digits only (leading zeros allowed); nullopt otherwise or
// when it exceeds limit.
std::optional<long> digitsValue(QStringView field, long limit)
{
    if (field.isEmpty())
        return std::nullopt;
    long value = 0;
    for (const QChar c : field) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

std::optional<LineSettings> reference(const QString& text)
{
    QList<QStringView> fields;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == QLatin1Char(',')) {
            fields << QStringView(text).sliced(start, i - start);
            start = i + 1;
        }
    }
    if (fields.size() != 4)
        return std::nullopt;
    LineSettings s;
    const auto baud = digitsValue(fields[0], 4000000);
    if (!baud || *baud < 50)
        return std::nullopt;
    s.baudRate = qint32(*baud);
    if (fields[1].size() != 1)
        return std::nullopt;
    switch (fields[1][0].unicode()) {
    case u'n': case u'N': s.parity = QSerialPort::NoParity; break;
    case u'e': case u'E': s.parity = QSerialPort::EvenParity; break;
    case u'o': case u'O': s.parity = QSerialPort::OddParity; break;
    case u'm': case u'M': s.parity = QSerialPort::MarkParity; break;
    case u's': case u'S': s.parity = QSerialPort::SpaceParity; break;
    default: return std::nullopt;
    }
    const auto bits = digitsValue(fields[2], 8);
    if (!bits || *bits < 5)
        return std::nullopt;
    s.dataBits = QSerialPort::DataBits(*bits);
    if (fields[3] == u"1")
        s.stopBits = QSerialPort::OneStop;
    else if (fields[3] == u"1.5")
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (fields[3] == u"2")
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString show(const LineSettings& s)
{
    return QStringLiteral("{baud %1, parity %2, data %3, stop %4}")
        .arg(s.baudRate)
        .arg(int(s.parity))
        .arg(int(s.dataBits))
        .arg(int(s.stopBits));
}

// A valid value from up to 6 bytes.
LineSettings valueFrom(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t b[6] = {};
    for (std::size_t i = 0; i < 6 && i < size; ++i)
        b[i] = data[i];
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                   QSerialPort::OddParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    static const QSerialPort::StopBits stops[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                  QSerialPort::TwoStop};
    LineSettings s;
    s.baudRate = 50 + qint32((std::uint32_t(b[0]) << 16 | std::uint32_t(b[1]) << 8 | b[2]) % (4000000 - 50 + 1));
    s.parity = parities[b[3] % 5];
    s.dataBits = QSerialPort::DataBits(5 + b[4] % 4);
    s.stopBits = stops[b[5] % 3];
    return s;
}

void checkRoundTrip(const LineSettings& value)
{
    const QString printed = value.toString();
    QString error;
    const auto again = LineSettings::parse(printed, &error);
    CHECK(again.has_value(), show(value) + QLatin1String(" prints as ") + fuzzcheck::escaped(printed)
                                 + QLatin1String(", which is rejected: ") + error);
    CHECK(*again == value, show(value) + QLatin1String(" -> ") + fuzzcheck::escaped(printed)
                               + QLatin1String(" -> ") + show(*again));
    CHECK(again->toString() == printed, fuzzcheck::escaped(again->toString()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    const QString text = (data[0] & 1) ? QString::fromUtf8(bytes, length) : QString::fromLatin1(bytes, length);

    QString error;
    const auto parsed = LineSettings::parse(text, &error);
    const auto expected = reference(text);
    CHECK(parsed.has_value() == expected.has_value(),
          fuzzcheck::escaped(text) + (parsed ? QLatin1String(" accepted as ") + show(*parsed)
                                             : QLatin1String(" rejected: ") + error));
    if (parsed) {
        CHECK(*parsed == *expected, fuzzcheck::escaped(text) + QLatin1String(": ") + show(*parsed)
                                        + QLatin1String(" instead of ") + show(*expected));
        CHECK(error.isEmpty());
        checkRoundTrip(*parsed);
    } else {
        CHECK(!error.isEmpty(), fuzzcheck::escaped(text) + QLatin1String(" rejected without a reason"));
    }
    // A rejected text leaves no value behind, with or without an error text.
    CHECK(LineSettings::parse(text).has_value() == parsed.has_value());

    checkRoundTrip(valueFrom(data, size));
    return 0;
}
