#include "catalogue/logdefinitionreader.h"

#include "catalogue/numberconversion.h"
#include "platform/files.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <system_error>

namespace morvandell {

namespace {

constexpr std::string_view ChannelWord = "channel";

enum class Key { None, Name, Divider, Unit, Channel, Storage };

// Recognised keys, compared exactly.
Key keyOf(std::string_view key)
{
    if (key == "name")
        return Key::Name;
    if (key == "divider")
        return Key::Divider;
    if (key == "unit")
        return Key::Unit;
    if (key == "channel")
        return Key::Channel;
    if (key == "storage")
        return Key::Storage;
    return Key::None;
}

// Calls f(key, value) for every attribute token (token 1 onwards) whose key is recognised;
// value is the raw text between the first and the second '=' (or the token end), quotes
// still in it. Stops early when f returns false.
template<typename F> void forEachAttribute(std::string_view line, F f)
{
    std::size_t pos = line.find(' '); // token 0 is never an attribute
    while (pos != std::string_view::npos) {
        const std::size_t start = pos + 1;
        pos = line.find(' ', start);
        const std::string_view token =
            line.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        const std::size_t eq = token.find('=');
        if (eq == std::string_view::npos)
            continue;
        const Key key = keyOf(token.substr(0, eq));
        if (key == Key::None)
            continue;
        std::string_view value = token.substr(eq + 1);
        value = value.substr(0, value.find('='));
        if (!f(key, value))
            return;
    }
}

// A count as the German texts write it: 65536 is "65.536".
std::string grouped(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (std::ptrdiff_t at = std::ptrdiff_t(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(std::size_t(at), 1, '.');
    return digits;
}

// The path as the user's system writes it (backslashes on Windows).
std::string shownPath(const std::string& path)
{
    std::string shown = path;
    if (std::filesystem::path::preferred_separator == '\\')
        std::replace(shown.begin(), shown.end(), '/', '\\');
    return shown;
}

// errno in the system's words, or `fallback` when it says nothing.
std::string systemReason(int number, const char* fallback)
{
    return number != 0 ? std::generic_category().message(number) : std::string(fallback);
}

} // namespace

std::string ReadReport::warningText() const
{
    std::vector<std::string> parts;
    if (channelsLeftOut > 0) {
        parts.push_back(
            channelsLeftOut == 1
                ? text::arg("1 Kanal nach dem %1. Katalogeintrag wurde nicht übernommen; "
                            "der Katalog fasst höchstens %1 Kanäle.",
                            {Catalogue::LastIndex})
                : text::arg("%1 Kanäle nach dem %2. Katalogeintrag wurden nicht übernommen; "
                            "der Katalog fasst höchstens %2 Kanäle.",
                            {channelsLeftOut, Catalogue::LastIndex}));
    }
    if (outOfRangeCount > 0) {
        std::string out =
            outOfRangeCount == 1
                ? std::string("1 Wert liegt außerhalb von 0 bis 255 und wurde als 0 übernommen:")
                : text::arg("%1 Werte liegen außerhalb von 0 bis 255 und wurden als 0 übernommen:",
                            {outOfRangeCount});
        for (const std::string& value : outOfRange)
            out += "\n" + value;
        if (outOfRangeCount > outOfRange.size())
            out += text::arg("\nund %1 weitere", {outOfRangeCount - outOfRange.size()});
        parts.push_back(std::move(out));
    }
    if (entriesLeftOut > 0)
        parts.push_back(text::arg("%1 weitere Namen wurden nicht in die Listen aufgenommen (höchstens %2).",
                                  {entriesLeftOut, LogDefinitionReader::MaxEntries}));
    if (overlongLines > 0) {
        parts.push_back(
            overlongLines == 1
                ? text::arg("1 Zeile war länger als %1 Zeichen; nur ihr Anfang wurde gelesen.",
                            {grouped(lineLengthLimit)})
                : text::arg("%1 Zeilen waren länger als %2 Zeichen; nur ihr Anfang wurde gelesen.",
                            {overlongLines, grouped(lineLengthLimit)}));
    }
    return text::join(parts, "\n\n");
}

LogDefinitionReader::LogDefinitionReader(Catalogue& catalogue)
    : m_catalogue(catalogue)
{
    m_report.lineLengthLimit = DefaultMaxLineLength;
}

void LogDefinitionReader::setMaxLineLength(std::size_t bytes)
{
    m_report.lineLengthLimit = bytes > 0 ? bytes : 1;
}

std::string LogDefinitionReader::decode(std::string_view bytes, bool dropQuotes, std::size_t maxLength)
{
    std::string unquoted;
    if (dropQuotes && bytes.find('"') != std::string_view::npos) {
        unquoted.reserve(bytes.size());
        for (const char c : bytes)
            if (c != '"')
                unquoted += c;
        bytes = unquoted;
    }
    // One byte is one character in the code page, so the cut can come first: a long value is not
    // decoded whole. The cut in characters afterwards never leaves half a character either way.
    return text::left(text::fromAnsi(bytes.substr(0, maxLength)), maxLength);
}

// Tabs to blanks, then " = " to "=" left to right without rescanning what a replacement
// produced, then leading and trailing blanks removed.
void LogDefinitionReader::clean(std::string_view line)
{
    m_clean.assign(line.data(), line.size());
    for (char& c : m_clean)
        if (c == '\t')
            c = ' ';
    // In place: the write position never overtakes the read position.
    const std::size_t size = m_clean.size();
    std::size_t out = 0;
    for (std::size_t in = 0; in < size;) {
        if (m_clean[in] == ' ' && in + 2 < size && m_clean[in + 1] == '=' && m_clean[in + 2] == ' ') {
            m_clean[out++] = '=';
            in += 3;
        } else {
            m_clean[out++] = m_clean[in++];
        }
    }
    m_clean.resize(out);
    const std::size_t first = m_clean.find_first_not_of(' ');
    if (first == std::string::npos) {
        m_clean.clear();
        return;
    }
    m_clean.erase(m_clean.find_last_not_of(' ') + 1);
    m_clean.erase(0, first);
}

bool LogDefinitionReader::hasRecognisedAttribute() const
{
    bool found = false;
    forEachAttribute(m_clean, [&](Key, std::string_view) {
        found = true;
        return false;
    });
    return found;
}

void LogDefinitionReader::storeAttributes(int n)
{
    struct Rejected
    {
        const char* key;
        std::string number;
    };
    std::vector<Rejected> rejected;
    std::string_view lastName; // the line's last name wins; decoded once, below
    bool hasName = false;
    const auto at = std::size_t(n);

    forEachAttribute(m_clean, [&](Key key, std::string_view raw) {
        if (key == Key::Name) {
            if (m_report.entries.size() < MaxEntries)
                m_report.entries.push_back({decode(raw, true, MaxTextLength), n});
            else
                ++m_report.entriesLeftOut;
            lastName = raw;
            hasName = true;
            return true;
        }
        switch (key) {
        case Key::Name:
            break;
        case Key::Unit:
            m_catalogue.unit[at] = decode(raw, true, MaxTextLength);
            break;
        case Key::Storage:
            m_catalogue.storage[at] = decode(raw, true, MaxTextLength);
            break;
        case Key::Divider:
        case Key::Channel: {
            // Numbers are read whole: a cut could change them.
            const std::string value = decode(raw, true);
            const ConvertedNumber number = convertNumber(value);
            const std::uint8_t stored = number.inRange ? std::uint8_t(number.value) : 0;
            (key == Key::Divider ? m_catalogue.divider : m_catalogue.number)[at] = stored;
            if (!number.inRange && m_report.outOfRangeCount++ < ShownOutOfRange)
                rejected.push_back(
                    {key == Key::Divider ? "divider" : "channel", value.substr(0, leadingNumberLength(value))});
            break;
        }
        case Key::None:
            break;
        }
        return true;
    });

    if (hasName)
        m_catalogue.name[at] = decode(lastName, true, MaxTextLength);
    // Named after the whole line is read: the name may stand after the number.
    const std::string label = hasName ? m_catalogue.name[at] : text::arg("Kanal %1", {n});
    for (const Rejected& r : rejected)
        m_report.outOfRange.push_back(text::arg("%1: %2 = %3", {label, r.key, r.number}));
}

void LogDefinitionReader::processLine(std::string_view line)
{
    // Clean-up neither makes nor breaks "channel" (it only touches blanks, tabs and '='),
    // so the raw bytes can be tested first; most lines of a large file end here.
    if (line.find(ChannelWord) == std::string_view::npos)
        return;
    clean(line);
    const int n = ++m_index;
    ++m_report.channelLines;
    if (n > Catalogue::LastIndex) {
        if (hasRecognisedAttribute())
            ++m_report.channelsLeftOut;
        return;
    }
    storeAttributes(n);
}

void LogDefinitionReader::appendToPending(const char* begin, const char* end)
{
    if (m_pendingOverlong)
        return;
    const std::size_t room = m_report.lineLengthLimit - m_pending.size();
    const std::size_t length = std::size_t(end - begin);
    if (length > room) {
        m_pending.append(begin, room);
        m_pendingOverlong = true;
    } else {
        m_pending.append(begin, length);
    }
}

void LogDefinitionReader::finishPending()
{
    if (m_pendingOverlong)
        ++m_report.overlongLines;
    processLine(m_pending);
    m_pending.clear();
    m_pendingOverlong = false;
}

LogDefinitionReader::ByteSource LogDefinitionReader::sourceOf(std::istream& in)
{
    return [&in](char* buffer, std::size_t max, std::string* reason) -> std::ptrdiff_t {
        if (in.eof())
            return 0;
        errno = 0;
        in.read(buffer, std::streamsize(max));
        const std::ptrdiff_t got = std::ptrdiff_t(in.gcount());
        if (in.bad()) {
            if (reason)
                *reason = systemReason(errno, "Der Datenträger meldet einen Fehler.");
            return -1;
        }
        return got;
    };
}

bool LogDefinitionReader::read(std::istream& in, std::string* error)
{
    if (!in) {
        if (error)
            *error = "Die Datei ist nicht zum Lesen geöffnet.";
        return false;
    }
    return read(sourceOf(in), error);
}

bool LogDefinitionReader::read(const ByteSource& source, std::string* error)
{
    if (!source) {
        if (error)
            *error = "Die Datei ist nicht zum Lesen geöffnet.";
        return false;
    }

    m_pending.clear();
    m_pendingOverlong = false;
    bool lineOpen = false; // bytes of an unfinished line have been seen (m_pending may still be empty)
    bool skipLf = false;   // the previous chunk ended in CR: an LF at the start of the next belongs to it
    const std::size_t limit = m_report.lineLengthLimit;
    const std::unique_ptr<char[]> chunk(new char[m_chunkSize]);

    for (;;) {
        std::string reason;
        const std::ptrdiff_t got = source(chunk.get(), m_chunkSize, &reason);
        if (got < 0) {
            if (error)
                *error = text::arg("Lesefehler: %1", {reason});
            m_pending.clear();
            m_pendingOverlong = false;
            return false;
        }
        if (got == 0)
            break;

        const char* p = chunk.get();
        const char* const end = p + std::min<std::size_t>(std::size_t(got), m_chunkSize);
        if (skipLf) {
            skipLf = false;
            if (*p == '\n')
                ++p;
        }
        // Next CR and next LF from p on, each found once per chunk region by memchr.
        const char* nextCr = nullptr;
        const char* nextLf = nullptr;
        while (p < end) {
            if (!nextCr || nextCr < p) {
                nextCr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(end - p)));
                if (!nextCr)
                    nextCr = end;
            }
            if (!nextLf || nextLf < p) {
                nextLf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
                if (!nextLf)
                    nextLf = end;
            }
            const char* const eol = std::min(nextCr, nextLf);
            if (eol == end) { // the line goes on in the next chunk
                appendToPending(p, end);
                lineOpen = true;
                break;
            }
            if (lineOpen) {
                appendToPending(p, eol);
                finishPending();
                lineOpen = false;
            } else if (std::size_t(eol - p) > limit) {
                ++m_report.overlongLines;
                processLine(std::string_view(p, limit));
            } else {
                processLine(std::string_view(p, std::size_t(eol - p)));
            }
            p = eol + 1;
            if (*eol == '\r') {
                if (p == end)
                    skipLf = true;
                else if (*p == '\n')
                    ++p;
            }
        }
    }
    if (lineOpen)
        finishPending();
    return true;
}

bool LogDefinitionReader::readFile(const std::string& path, Catalogue& catalogue, ReadReport* report,
                                   std::string* error)
{
    const std::string shown = shownPath(path);
    if (report)
        *report = ReadReport{};
    auto refuse = [&](std::string text) {
        if (error)
            *error = std::move(text);
        return false;
    };
    if (path.empty())
        return refuse("Es wurde keine Datei gewählt.");
    // A device or a FIFO would block the open or the read, or never end: only regular files are read.
    if (files::exists(path) && !files::isDirectory(path) && !files::isRegularFile(path))
        return refuse(text::arg("„%1“ wird nicht gelesen: Das ist keine gewöhnliche Datei "
                                "(sondern ein Gerät, eine Pipe oder ein Socket).",
                                {shown}));
    if (files::isDirectory(path))
        return refuse(text::arg("„%1“ kann nicht geöffnet werden: Das ist ein Ordner, keine Datei.", {shown}));
    errno = 0;
    std::ifstream file(files::toPath(path), std::ios::binary);
    if (!file) {
        const int why = errno;
        if (!files::exists(path))
            return refuse(text::arg("Die Datei „%1“ kann nicht geöffnet werden: Sie existiert nicht.", {shown}));
        if (why == EACCES)
            return refuse(
                text::arg("Die Datei „%1“ kann nicht geöffnet werden: Keine Leseberechtigung.", {shown}));
        return refuse(text::arg("Die Datei „%1“ kann nicht geöffnet werden: %2",
                                {shown, systemReason(why, "Unbekannter Fehler.")}));
    }
    std::string readError;
    if (readWhole(file, catalogue, report, &readError))
        return true;
    return refuse(text::arg("Die Datei „%1“ konnte nicht vollständig gelesen werden. %2 "
                            "Katalog und Listen bleiben unverändert.",
                            {shown, readError}));
}

bool LogDefinitionReader::readWhole(const ByteSource& source, Catalogue& catalogue, ReadReport* report,
                                    std::string* error)
{
    // Into a fresh catalogue: what an earlier file stored must not show through where this one says
    // nothing (a channel without a unit or divider here must not keep the earlier file's). A read that
    // fails part-way must not leave entries behind either, nor report names it did not keep: it
    // changes nothing.
    auto scratch = std::make_unique<Catalogue>();
    LogDefinitionReader reader(*scratch);
    const bool ok = reader.read(source, error);
    if (!ok) {
        if (report)
            *report = LogDefinitionReader(*scratch).report();
        return false;
    }
    if (report)
        *report = reader.report();
    catalogue = std::move(*scratch);
    return true;
}

bool LogDefinitionReader::readWhole(std::istream& in, Catalogue& catalogue, ReadReport* report,
                                    std::string* error)
{
    if (!in) {
        if (report)
            *report = LogDefinitionReader(catalogue).report();
        if (error)
            *error = "Die Datei ist nicht zum Lesen geöffnet.";
        return false;
    }
    return readWhole(sourceOf(in), catalogue, report, error);
}

} // namespace morvandell
