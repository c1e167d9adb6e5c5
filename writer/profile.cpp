#include "writer/profile.h"

#include "platform/files.h"
#include "platform/text.h"
#include "writer/profiletext.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <system_error>

namespace morvandell {

namespace {

using json = nlohmann::json;

// A number as "%.17g" writes it (256, -1, 1e+20, 2.5), whatever the locale.
std::string numberText(double d)
{
    if (d == 0)
        d = 0; // no "-0"
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, 17);
    return std::string(buffer, result.ptr);
}

// Reading stops at the first problem; where says where it was found ("Eintrag 2 in \"slots\": ").
class Reader
{
public:
    std::string error;

    bool ok() const { return error.empty(); }

    void fail(const std::string& where, const std::string& text)
    {
        if (error.empty())
            error = where + text;
    }

    const json* present(const json& object, const std::string& where, const char* key)
    {
        const auto it = object.find(key);
        if (it == object.end()) {
            fail(where, text::arg("\"%1\" fehlt.", {key}));
            return nullptr;
        }
        return &*it;
    }

    std::optional<std::string> text(const json& object, const std::string& where, const char* key)
    {
        const json* value = present(object, where, key);
        if (!value)
            return std::nullopt;
        // A text that held a lone surrogate escape (see profiletext::prepare).
        if (value->is_binary()) {
            fail(where, text::arg("\"%1\" enthält ein ungültiges Zeichen.", {key}));
            return std::nullopt;
        }
        if (!value->is_string()) {
            fail(where, text::arg("\"%1\" ist kein Text.", {key}));
            return std::nullopt;
        }
        return value->get<std::string>();
    }

    // A whole number in lowest..highest. Every JSON number counts, 12.0 and 1e2 too.
    std::optional<int> number(const json& object, const std::string& where, const char* key, int lowest,
                              int highest)
    {
        const json* value = present(object, where, key);
        if (!value)
            return std::nullopt;
        double d = std::nan("");
        if (value->is_number_unsigned())
            d = double(value->get<std::uint64_t>());
        else if (value->is_number_integer())
            d = double(value->get<std::int64_t>());
        else if (value->is_number_float())
            d = value->get<double>();
        if (!value->is_number() || !std::isfinite(d) || d != std::trunc(d)) {
            fail(where, text::arg("\"%1\" ist keine ganze Zahl.", {key}));
            return std::nullopt;
        }
        if (d < lowest || d > highest) {
            fail(where, text::arg("\"%1\" ist %2, erlaubt sind %3 bis %4.", {key, numberText(d), lowest, highest}));
            return std::nullopt;
        }
        return static_cast<int>(d);
    }
};

std::string slotWhere(std::size_t entry)
{
    return text::arg("Eintrag %1 in \"slots\": ", {entry + 1});
}

// Where and why the parser refused the text.
class ErrorPosition final : public nlohmann::json_sax<json>
{
public:
    std::size_t position = 0;
    std::string reason;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t at, const std::string&, const nlohmann::json::exception& ex) override
    {
        // The parser counts the bytes read, the failing one included.
        position = at > 0 ? at - 1 : 0;
        // "[json.exception.parse_error.101] parse error at line 1, column 5: syntax error ...": the part
        // after the position, which the message gives as a byte.
        std::string what = ex.what();
        if (const auto bracket = what.find("] "); bracket != std::string::npos)
            what.erase(0, bracket + 2);
        if (text::startsWith(what, "parse error"))
            if (const auto colon = what.find(": "); colon != std::string::npos)
                what.erase(0, colon + 2);
        reason = what;
        return false;
    }
};

// The text as a JSON document, or a discarded value with *why set.
json parseDocument(std::string_view text, std::string* why)
{
    const profiletext::Prepared prepared = profiletext::prepare(text);
    std::size_t strings = 0;
    auto next = prepared.invalidStrings.begin();
    const json::parser_callback_t mark = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::key || (event == json::parse_event_t::value && parsed.is_string())) {
            if (next != prepared.invalidStrings.end() && *next == strings) {
                ++next;
                // A JSON text never gives a binary value: it stands for the invalid text.
                if (event == json::parse_event_t::value)
                    parsed = json::binary({});
            }
            ++strings;
        }
        return true;
    };
    json document = json::parse(prepared.text, mark, false);
    const auto refuse = [&](std::size_t at, const std::string& reason) {
        *why = text::arg("Die Datei ist kein gültiges JSON (Byte %1: %2).", {at, reason});
        return json(json::value_t::discarded);
    };
    if (document.is_discarded()) {
        ErrorPosition error;
        json::sax_parse(prepared.text, &error);
        const std::size_t at = prepared.original(error.position);
        if (at <= prepared.tooDeepAt)
            return refuse(at, error.reason);
    }
    if (prepared.tooDeepAt != std::string::npos)
        return refuse(prepared.tooDeepAt + 1, "too deeply nested document");
    return document;
}

std::string systemReason(int number)
{
    return number != 0 ? std::generic_category().message(number) : std::string("Unbekannter Fehler.");
}

} // namespace

std::optional<SlotSetting>& Profile::slot(DisplayConfiguration& configuration, int k)
{
    return configuration.slotSettings.at(std::size_t(k));
}

const std::optional<SlotSetting>& Profile::slot(const DisplayConfiguration& configuration, int k)
{
    return configuration.slotSettings.at(std::size_t(k));
}

std::optional<DisplayConfiguration> Profile::parse(const Bytes& bytes, std::string* error)
{
    auto refuse = [&](const std::string& text) -> std::optional<DisplayConfiguration> {
        if (error)
            *error = text;
        return std::nullopt;
    };

    if (bytes.size() > MaxFileSize)
        return refuse("Die Datei ist größer als 1 MB.");
    std::string_view content = charsOf(bytes);
    if (!text::isValidUtf8(content))
        return refuse("Die Datei ist kein gültiger UTF-8-Text.");
    if (text::startsWith(content, "\xEF\xBB\xBF")) // a byte order mark, as some editors write it
        content.remove_prefix(3);
    std::string why;
    const json document = parseDocument(content, &why);
    if (document.is_discarded())
        return refuse(why);
    if (!document.is_object())
        return refuse("Die Datei enthält kein JSON-Objekt.");
    const json& root = document;

    Reader r;
    const std::string top;
    DisplayConfiguration configuration;
    // Format and version first: a newer profile is reported as such, not as a field it lacks.
    if (const auto format = r.text(root, top, "format"); format && *format != formatName())
        r.fail(top, text::arg("Unbekanntes Format \"%1\" (erwartet \"%2\").", {*format, formatName()}));
    if (!r.ok())
        return refuse(r.error);
    if (const auto version = root.find("version"); version != root.end() && version->is_number()) {
        const double v = version->get<double>();
        if (v > Version && std::isfinite(v))
            return refuse(text::arg("Das Profil hat Version %1; dieses Programm kennt nur Version %2.",
                                    {numberText(v), Version}));
    }
    r.number(root, top, "version", Version, Version);
    if (const auto path = r.text(root, top, "logDefinition"))
        configuration.logDefinition = *path;
    if (const auto view = r.number(root, top, "defaultView", 0, MaxDefaultView))
        configuration.defaultView = static_cast<std::uint8_t>(*view);
    if (!r.ok())
        return refuse(r.error);

    const auto slotsValue = root.find("slots");
    if (slotsValue == root.end())
        return refuse("\"slots\" fehlt.");
    if (!slotsValue->is_array())
        return refuse("\"slots\" ist keine Liste.");
    const json& slotList = *slotsValue;
    for (std::size_t i = 0; i < slotList.size() && r.ok(); ++i) {
        const std::string where = slotWhere(i);
        if (!slotList[i].is_object())
            return refuse(where + "kein JSON-Objekt.");
        const json& entry = slotList[i];
        const auto k = r.number(entry, where, "slot", 1, DisplayConfiguration::SlotCount);
        if (k && slot(configuration, *k))
            r.fail(where, text::arg("Slot %1 ist mehrfach angegeben.", {*k}));
        // Only the first problem is kept; values after it are not used.
        SlotSetting setting;
        setting.channel = r.text(entry, where, "channel").value_or(std::string());
        setting.number = static_cast<std::uint8_t>(r.number(entry, where, "number", 0, 255).value_or(0));
        setting.divider = static_cast<std::uint8_t>(r.number(entry, where, "divider", 0, 255).value_or(0));
        setting.name = r.text(entry, where, "name").value_or(std::string());
        if (profiletext::boxLength(setting.name) > NameLength)
            r.fail(where, text::arg("\"name\" \"%1\" ist länger als %2 Zeichen.", {setting.name, NameLength}));
        setting.unit = r.text(entry, where, "unit").value_or(std::string());
        if (profiletext::boxLength(setting.unit) > UnitLength)
            r.fail(where, text::arg("\"unit\" \"%1\" ist länger als %2 Zeichen.", {setting.unit, UnitLength}));
        if (k && r.ok())
            slot(configuration, *k) = setting;
    }
    if (!r.ok())
        return refuse(r.error);
    if (error)
        error->clear();
    return configuration;
}

std::string Profile::problem(const DisplayConfiguration& configuration)
{
    auto invalid = [](const std::string& s) { return !text::isValidUtf8(s); };
    if (configuration.defaultView > MaxDefaultView)
        return text::arg("Die Standardansicht %1 gibt es nicht (0 bis %2).",
                         {int(configuration.defaultView), MaxDefaultView});
    if (invalid(configuration.logDefinition))
        return "Der Name der Log-Definitionsdatei enthält ein ungültiges Zeichen.";
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k) {
        const auto& setting = slot(configuration, k);
        if (!setting)
            continue;
        if (profiletext::boxLength(setting->name) > NameLength)
            return text::arg("Slot %1: der Name ist länger als %2 Zeichen.", {k, NameLength});
        if (profiletext::boxLength(setting->unit) > UnitLength)
            return text::arg("Slot %1: die Einheit ist länger als %2 Zeichen.", {k, UnitLength});
        if (invalid(setting->channel) || invalid(setting->name) || invalid(setting->unit))
            return text::arg("Slot %1 enthält ein ungültiges Zeichen.", {k});
    }
    return std::string();
}

std::string Profile::toJson(const DisplayConfiguration& configuration)
{
    std::string out;
    out += "{\n  \"format\": " + profiletext::quoted(formatName()) + ",\n";
    out += "  \"version\": " + std::to_string(Version) + ",\n";
    out += "  \"logDefinition\": " + profiletext::quoted(configuration.logDefinition) + ",\n";
    out += "  \"defaultView\": " + std::to_string(configuration.defaultView) + ",\n";
    out += "  \"slots\": [";
    bool first = true;
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k) {
        const auto& setting = slot(configuration, k);
        if (!setting)
            continue;
        out += first ? "\n" : ",\n";
        first = false;
        out += "    { \"slot\": " + std::to_string(k) + ", \"channel\": " + profiletext::quoted(setting->channel) +
               ", \"number\": " + std::to_string(setting->number) +
               ", \"divider\": " + std::to_string(setting->divider) + ", \"name\": " + profiletext::quoted(setting->name) +
               ", \"unit\": " + profiletext::quoted(setting->unit) + " }";
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::optional<DisplayConfiguration> Profile::load(const std::string& path, std::string* error)
{
    auto refuse = [&](const std::string& text) -> std::optional<DisplayConfiguration> {
        if (error)
            *error = text::arg("Das Profil %1 kann nicht geladen werden: %2", {path, text});
        return std::nullopt;
    };
    if (files::isDirectory(path))
        return refuse("Das ist ein Ordner.");
    errno = 0;
    std::ifstream file(files::toPath(path), std::ios::binary);
    if (!file)
        return refuse(systemReason(errno));
    if (const auto size = files::size(path); size && *size > MaxFileSize)
        return refuse("Die Datei ist größer als 1 MB.");
    // Read one byte more than allowed: files that report no size (pipes, /proc) are bounded too.
    Bytes bytes(MaxFileSize + 1);
    std::size_t got = 0;
    while (got < bytes.size() && file) {
        errno = 0;
        file.read(reinterpret_cast<char*>(bytes.data() + got), std::streamsize(bytes.size() - got));
        got += std::size_t(file.gcount());
        if (file.bad())
            return refuse(systemReason(errno));
    }
    bytes.resize(got);
    std::string problem;
    auto configuration = parse(bytes, &problem);
    if (!configuration)
        return refuse(problem);
    if (error)
        error->clear();
    return configuration;
}

bool Profile::save(const std::string& path, const DisplayConfiguration& configuration, std::string* error)
{
    auto refuse = [&](const std::string& text) {
        if (error)
            *error = text::arg("Das Profil %1 kann nicht gespeichert werden: %2", {path, text});
        return false;
    };
    if (const std::string reason = problem(configuration); !reason.empty())
        return refuse(reason);
    if (files::isDirectory(path))
        return refuse("Das ist ein Ordner.");
    // The new text goes into a temporary file beside the old one and replaces it only once it is
    // complete: a full disk or a crash leaves the old profile as it was.
    const std::string text = toJson(configuration);
    std::string why;
    if (!files::writeAtomically(path, Bytes(text.begin(), text.end()), &why)) {
        // The file is named once, at the front.
        const std::string named = text::arg("„%1“ kann nicht geschrieben werden: ", {path});
        if (text::startsWith(why, named))
            why.erase(0, named.size());
        return refuse(why);
    }
    if (error)
        error->clear();
    return true;
}

} // namespace morvandell
