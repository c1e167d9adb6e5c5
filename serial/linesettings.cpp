#include "serial/linesettings.h"

#include "platform/text.h"

#include <limits>

namespace morvandell {

namespace {

// ASCII digits only; leading zeros allowed ("0009600"), values beyond any setting refused.
bool fieldToInt(std::string_view field, int* value)
{
    if (field.empty())
        return false;
    int v = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
        if (v > (std::numeric_limits<int>::max() - (c - '0')) / 10)
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

} // namespace

std::optional<LineSettings> LineSettings::parse(std::string_view text, std::string* error)
{
    auto reject = [error](const std::string& why) -> std::optional<LineSettings> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    const std::vector<std::string> fields = text::split(text, ',');
    if (fields.size() != 4)
        return reject(text::arg("Einstellungen \"%1\": vier Felder erwartet (Baud,Parität,Datenbits,Stoppbits)",
                                {text}));

    LineSettings s;
    int baud = 0;
    if (!fieldToInt(fields[0], &baud) || baud < 50 || baud > 4000000)
        return reject(text::arg("Einstellungen \"%1\": ungültige Baudrate \"%2\"", {text, fields[0]}));
    s.baudRate = baud;

    if (fields[1].size() != 1)
        return reject(text::arg("Einstellungen \"%1\": ungültige Parität \"%2\"", {text, fields[1]}));
    switch (fields[1][0]) {
    case 'n':
    case 'N':
        s.parity = Parity::None;
        break;
    case 'e':
    case 'E':
        s.parity = Parity::Even;
        break;
    case 'o':
    case 'O':
        s.parity = Parity::Odd;
        break;
    case 'm':
    case 'M':
        s.parity = Parity::Mark;
        break;
    case 's':
    case 'S':
        s.parity = Parity::Space;
        break;
    default:
        return reject(text::arg("Einstellungen \"%1\": ungültige Parität \"%2\"", {text, fields[1]}));
    }

    int bits = 0;
    if (!fieldToInt(fields[2], &bits) || bits < 5 || bits > 8)
        return reject(text::arg("Einstellungen \"%1\": ungültige Datenbits \"%2\"", {text, fields[2]}));
    s.dataBits = bits;

    if (fields[3] == "1")
        s.stopBits = StopBits::One;
    else if (fields[3] == "1.5")
        s.stopBits = StopBits::OneAndHalf;
    else if (fields[3] == "2")
        s.stopBits = StopBits::Two;
    else
        return reject(text::arg("Einstellungen \"%1\": ungültige Stoppbits \"%2\"", {text, fields[3]}));
    return s;
}

std::string LineSettings::toString() const
{
    char parityChar = 'n';
    switch (parity) {
    case Parity::Even:
        parityChar = 'e';
        break;
    case Parity::Odd:
        parityChar = 'o';
        break;
    case Parity::Mark:
        parityChar = 'm';
        break;
    case Parity::Space:
        parityChar = 's';
        break;
    case Parity::None:
        break;
    }
    const char* stop = "1";
    if (stopBits == StopBits::OneAndHalf)
        stop = "1.5";
    else if (stopBits == StopBits::Two)
        stop = "2";
    return std::to_string(baudRate) + ',' + parityChar + ',' + std::to_string(dataBits) + ',' + stop;
}

std::chrono::milliseconds LineSettings::lineTime(std::size_t bytes) const
{
    const std::uint64_t halfBits = 2 * (1 + std::uint64_t(dataBits) + (parity == Parity::None ? 0 : 1)) +
                                   (stopBits == StopBits::One ? 2 : stopBits == StopBits::OneAndHalf ? 3 : 4);
    const std::uint64_t baud = std::uint64_t(baudRate > 0 ? baudRate : 1);
    return std::chrono::milliseconds((std::uint64_t(bytes) * halfBits * 1000 + 2 * baud - 1) / (2 * baud));
}

} // namespace morvandell
