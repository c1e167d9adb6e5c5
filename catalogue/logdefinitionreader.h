#pragma once

#include "catalogue/catalogue.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace morvandell {

// What one reader run found, beyond what it stored in the catalogue.
struct ReadReport
{
    // Every "name" stored at an index 1..256, in file order, up to LogDefinitionReader::MaxEntries.
    // A line with two names gives two entries with the same index; a line without a name gives
    // none, so list position and catalogue index may differ: always use CatalogueEntry::index.
    std::vector<CatalogueEntry> entries;
    // Names stored beyond MaxEntries (only lines that repeat "name" give so many): not listed.
    std::size_t entriesLeftOut = 0;
    // Lines that contained "channel" (each took one running index, stored or not).
    int channelLines = 0;
    // Lines beyond index 256 that carried at least one recognised attribute and were therefore
    // dropped. Lines beyond 256 without any (a closing "</channels>", a comment) are not counted:
    // nothing of them is lost.
    int channelsLeftOut = 0;
    // "<name>: <key> = <number>" for every stored "divider" or "channel" whose whole number
    // lies outside 0..255 (0 was stored instead). <name> is the line's name, or "Kanal <index>"
    // when the line has none; <number> is the number as written in the file. Only the first
    // LogDefinitionReader::ShownOutOfRange are kept; outOfRangeCount counts them all.
    std::vector<std::string> outOfRange;
    std::size_t outOfRangeCount = 0;
    // Lines longer than lineLengthLimit: only their first lineLengthLimit bytes were read.
    int overlongLines = 0;
    std::size_t lineLengthLimit = 0;

    // German text for one warning box; empty when there is nothing to warn about.
    std::string warningText() const;
};

// Reads a log-definition file into the catalogue. It is a line scanner, not an XML parser:
// every line that contains "channel" takes the next catalogue index (from 1), and its
// attributes are picked out by splitting at blanks and equals signs. One reader per file:
// the running index and the report accumulate over everything the reader has been given.
class LogDefinitionReader
{
public:
    static constexpr std::size_t DefaultChunkSize = 64 * 1024;
    static constexpr std::size_t DefaultMaxLineLength = 64 * 1024;
    static constexpr std::size_t ShownOutOfRange = 5; // values listed by name in warningText()
    static constexpr std::size_t MaxEntries = 1024;   // names listed; a file cannot fill memory with them
    // Every text stored (name, unit, storage) keeps at most this many characters: far more than the
    // lists show, and no file can put megabytes into them.
    static constexpr std::size_t MaxTextLength = 255;

    // Where the bytes come from: fills buffer with up to max bytes and returns how many, 0 at the
    // end; on a read error a negative number, with *reason saying why (in the system's words).
    using ByteSource = std::function<std::ptrdiff_t(char* buffer, std::size_t max, std::string* reason)>;

    explicit LogDefinitionReader(Catalogue& catalogue);

    // One line without its line end, bytes in the ANSI code page (text::fromAnsi). No length limit
    // here; the texts stored from it are cut to MaxTextLength.
    void processLine(std::string_view line);

    // Reads the source to its end in chunks, never holding the whole file. CR LF, lone CR and
    // lone LF each end a line. A line longer than the line-length limit is read by its first part
    // only. On a read error: returns false, sets *error to a German text and stops; what was
    // stored until then stays stored.
    bool read(const ByteSource& source, std::string* error = nullptr);
    // The same from a stream (binary, as a file opened with std::ios::binary).
    bool read(std::istream& in, std::string* error = nullptr);

    const ReadReport& report() const { return m_report; }
    int runningIndex() const { return m_index; }

    // Opens and reads the regular file at path (UTF-8) into catalogue. A successful read replaces the
    // whole catalogue: nothing of an earlier file is left in it. On failure returns false with a German
    // text naming the file and the reason, and leaves catalogue as it was (the file is read into a fresh
    // catalogue first). report (if given) receives the report; after a failure it is empty (nothing
    // was taken).
    static bool readFile(const std::string& path, Catalogue& catalogue, ReadReport* report = nullptr,
                         std::string* error = nullptr);

    // Reads the whole source into a fresh catalogue that then replaces catalogue; on a read error
    // leaves catalogue as it was and reports nothing.
    static bool readWhole(const ByteSource& source, Catalogue& catalogue, ReadReport* report = nullptr,
                          std::string* error = nullptr);
    static bool readWhole(std::istream& in, Catalogue& catalogue, ReadReport* report = nullptr,
                          std::string* error = nullptr);

    // Bytes in the ANSI code page (text::fromAnsi) to UTF-8 text, every double quote dropped first when
    // asked, at most maxLength characters.
    static std::string decode(std::string_view bytes, bool dropQuotes = false,
                              std::size_t maxLength = std::string_view::npos);

    // Sizes, adjustable for tests.
    void setChunkSize(std::size_t bytes) { m_chunkSize = bytes > 0 ? bytes : 1; }
    void setMaxLineLength(std::size_t bytes);

    // Reads a stream as a ByteSource.
    static ByteSource sourceOf(std::istream& in);

private:
    void clean(std::string_view line);
    bool hasRecognisedAttribute() const;
    void storeAttributes(int index);

    // Line assembly across chunks while reading.
    void appendToPending(const char* begin, const char* end);
    void finishPending();

    Catalogue& m_catalogue;
    ReadReport m_report;
    int m_index = 0;
    std::size_t m_chunkSize = DefaultChunkSize;
    std::string m_clean;   // the current line after clean-up
    std::string m_pending; // a line that straddles chunks, at most the line-length limit
    bool m_pendingOverlong = false;
};

} // namespace morvandell
