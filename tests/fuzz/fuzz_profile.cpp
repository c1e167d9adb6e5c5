// Fuzz target for the profile reader and writer.
//
// Input: the whole input is read as a profile file. The same bytes also give a configuration of
// their own (see valueFrom: texts of any characters, encoded surrogates and stray bytes among them,
// numbers, present and absent slots).
//
// Properties:
// - parse never crashes; it either gives a configuration and no error text, or an error text;
// - an accepted configuration is one that may be written (problem() is empty), its texts are valid
//   UTF-8, its slot names and units at most 8 and 3 UTF-16 units and its default view at most 3;
// - an accepted configuration written with toJson reads back equal, and writing that again gives
//   the same bytes;
// - every configuration that problem() lets through reads back equal from its toJson text; the
//   ones it refuses hold a text that is not valid UTF-8 or too long, or a default view above 3.
#include "fuzzcheck.h"
#include "platform/text.h"
#include "writer/profile.h"

#include <cstdint>
#include <string>

using morvandell::DisplayConfiguration;
using morvandell::Profile;
using morvandell::SlotSetting;
namespace text = morvandell::text;

namespace {

std::string show(const DisplayConfiguration& c)
{
    return fuzzcheck::escaped(Profile::toJson(c));
}

morvandell::Bytes bytesOf(const std::string& s)
{
    return morvandell::Bytes(s.begin(), s.end());
}

void checkWritesBackEqual(const DisplayConfiguration& value)
{
    const std::string json = Profile::toJson(value);
    std::string error;
    const auto again = Profile::parse(bytesOf(json), &error);
    CHECK(again.has_value(), show(value) + " is refused: " + error);
    CHECK(*again == value, show(value) + " reads back as " + show(*again));
    CHECK(Profile::toJson(*again) == json, fuzzcheck::escaped(json));
}

// UTF-16 units, as the text boxes count.
std::size_t boxLength(const std::string& s)
{
    std::size_t n = 0;
    for (const char32_t c : text::toCodePoints(s))
        n += c > 0xFFFF ? 2 : 1;
    return n;
}

bool invalidText(const std::string& s)
{
    return !text::isValidUtf8(s);
}

// The UTF-8 pattern of any value below 0x110000, surrogates included (which makes it invalid).
std::string rawUtf8(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

// Reads the input front to back; past its end every byte is 0.
class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {}
    std::uint8_t next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::string text()
    {
        std::string s;
        for (int n = next() % 12; n > 0; --n) {
            const std::uint8_t kind = next() % 4;
            if (kind == 0) {
                s += char(next()); // a stray byte
            } else if (kind == 3) {
                const char32_t c = char32_t(next()) << 16 | char32_t(next()) << 8 | next();
                s += rawUtf8(c % 0x110000);
            } else {
                const char32_t hi = next();
                s += rawUtf8(hi << 8 | next());
            }
        }
        return s;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

DisplayConfiguration valueFrom(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    DisplayConfiguration c;
    c.logDefinition = in.text();
    c.defaultView = in.next() % 5;
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k) {
        if (in.next() & 1) {
            SlotSetting s;
            s.channel = in.text();
            s.number = in.next();
            s.divider = in.next();
            s.name = in.text();
            s.unit = in.text();
            Profile::slot(c, k) = s;
        }
    }
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const morvandell::Bytes bytes(data, data + size);
    std::string error;
    const auto parsed = Profile::parse(bytes, &error);
    if (parsed) {
        CHECK(error.empty(), error);
        CHECK(Profile::problem(*parsed).empty(), show(*parsed) + ": " + Profile::problem(*parsed));
        CHECK(parsed->defaultView <= 3);
        CHECK(!invalidText(parsed->logDefinition), show(*parsed));
        for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k)
            if (const auto& s = Profile::slot(*parsed, k))
                CHECK(boxLength(s->name) <= 8 && boxLength(s->unit) <= 3 && !invalidText(s->name) &&
                          !invalidText(s->unit) && !invalidText(s->channel),
                      show(*parsed));
        checkWritesBackEqual(*parsed);
    } else {
        CHECK(!error.empty(), fuzzcheck::escaped(morvandell::charsOf(bytes)) + " refused without a reason");
    }

    const DisplayConfiguration value = valueFrom(data, size);
    const std::string problem = Profile::problem(value);
    if (problem.empty()) {
        checkWritesBackEqual(value);
    } else {
        bool explained = value.defaultView > 3 || invalidText(value.logDefinition);
        for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k)
            if (const auto& s = Profile::slot(value, k))
                explained = explained || boxLength(s->name) > 8 || boxLength(s->unit) > 3 || invalidText(s->name) ||
                            invalidText(s->unit) || invalidText(s->channel);
        CHECK(explained, show(value) + " refused: " + problem);
    }
    return 0;
}
