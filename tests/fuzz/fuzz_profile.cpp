// Fuzz target for the profile reader and writer.
//
// Input: the whole input is read as a profile file. The same bytes also give a configuration of
// their own (see valueFrom: texts of any UTF-16 code units, numbers, present and absent slots).
//
// Properties:
// - parse never crashes; it either gives a configuration and no error text, or an error text;
// - an accepted configuration is one that may be written (problem() is empty), its slot names and
//   units are at most 8 and 3 characters and its default view at most 3;
// - an accepted configuration written with toJson reads back equal, and writing that again gives
//   the same bytes;
// - every configuration that problem() lets through reads back equal from its toJson text; the
//   ones it refuses hold a text that is not valid UTF-16 or too long, or a default view above 3.
#include "fuzzcheck.h"
#include "writer/profile.h"

#include <cstdint>

using morvandell::DisplayConfiguration;
using morvandell::Profile;
using morvandell::SlotSetting;

namespace {

QString show(const DisplayConfiguration& c)
{
    return fuzzcheck::escaped(Profile::toJson(c));
}

void checkWritesBackEqual(const DisplayConfiguration& value)
{
    const QByteArray text = Profile::toJson(value);
    QString error;
    const auto again = Profile::parse(text, &error);
    CHECK(again.has_value(), show(value) + QLatin1String(" is refused: ") + error);
    CHECK(*again == value, show(value) + QLatin1String(" reads back as ") + show(*again));
    CHECK(Profile::toJson(*again) == text, fuzzcheck::escaped(text));
}

// Reads the input front to back; past its end every byte is 0.
class Bytes
{
public:
    Bytes(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {}
    std::uint8_t next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    QString text()
    {
        QString s;
        for (int n = next() % 12; n > 0; --n) {
            const char16_t hi = next();
            s += QChar(char16_t(hi << 8 | next()));
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
    Bytes in(data, size);
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

bool invalidText(const QString& s)
{
    return !QStringView(s).isValidUtf16();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const auto parsed = Profile::parse(bytes, &error);
    if (parsed) {
        CHECK(error.isEmpty(), error);
        CHECK(Profile::problem(*parsed).isEmpty(),
              show(*parsed) + QLatin1String(": ") + Profile::problem(*parsed));
        CHECK(parsed->defaultView <= 3);
        for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k)
            if (const auto& s = Profile::slot(*parsed, k))
                CHECK(s->name.size() <= 8 && s->unit.size() <= 3, show(*parsed));
        checkWritesBackEqual(*parsed);
    } else {
        CHECK(!error.isEmpty(), fuzzcheck::escaped(bytes) + QLatin1String(" refused without a reason"));
    }

    const DisplayConfiguration value = valueFrom(data, size);
    const QString problem = Profile::problem(value);
    if (problem.isEmpty()) {
        checkWritesBackEqual(value);
    } else {
        bool explained = value.defaultView > 3 || invalidText(value.logDefinition);
        for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k)
            if (const auto& s = Profile::slot(value, k))
                explained = explained || s->name.size() > 8 || s->unit.size() > 3 || invalidText(s->name) ||
                            invalidText(s->unit) || invalidText(s->channel);
        CHECK(explained, show(value) + QLatin1String(" refused: ") + problem);
    }
    return 0;
}
