#pragma once

#include "catalogue/catalogue.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

class QIODevice;

namespace morvandell {

// What one reader run found, beyond what it stored in the catalogue.
struct ReadReport
{
    // Every "name" stored at an index 1..256, in file order, up to LogDefinitionReader::MaxEntries.
    // A line with two names gives two entries with the same index; a line without a name gives
    // none, so list position and catalogue index may differ: always use CatalogueEntry::index.
    QList<CatalogueEntry> entries;
    // Names stored beyond MaxEntries (only lines that repeat "name" give so many): not listed.
    qsizetype entriesLeftOut = 0;
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
    QStringList outOfRange;
    qsizetype outOfRangeCount = 0;
    // Lines longer than lineLengthLimit: only their first lineLengthLimit bytes were read.
    int overlongLines = 0;
    qsizetype lineLengthLimit = 0;

    // German text for one warning box; empty when there is nothing to warn about.
    QString warningText() const;
};

// Reads a log-definition file into the catalogue. It is a line scanner, not an XML parser:
// every line that contains "channel" takes the next catalogue index (from 1), and its
// attributes are picked out by splitting at blanks and equals signs. One reader per file:
// the running index and the report accumulate over everything the reader has been given.
class LogDefinitionReader
{
public:
    static constexpr qsizetype DefaultChunkSize = 64 * 1024;
    static constexpr qsizetype DefaultMaxLineLength = 64 * 1024;
    static constexpr int ShownOutOfRange = 5;     // values listed by name in warningText()
    static constexpr qsizetype MaxEntries = 1024; // names listed; a file cannot fill memory with them

    explicit LogDefinitionReader(Catalogue& catalogue);

    // One line without its line end, bytes in Windows-1252. No length limit here.
    void processLine(QByteArrayView line);

    // Reads the device to its end in chunks, never holding the whole file. CR LF, lone CR and
    // lone LF each end a line. A line longer than the line-length limit is read by its first part
    // only. On a read error: returns false, sets *error to a German text and stops; what was
    // stored until then stays stored.
    bool read(QIODevice& device, QString* error = nullptr);

    const ReadReport& report() const { return m_report; }
    int runningIndex() const { return m_index; }

    // Opens and reads the regular file at path into catalogue. On failure returns false with a
    // German text naming the file and the reason, and leaves catalogue as it was (the file is read
    // into a copy first). report (if given) receives the report in every case.
    static bool readFile(const QString& path, Catalogue& catalogue, ReadReport* report = nullptr,
                         QString* error = nullptr);

    // Reads the whole device into catalogue, or on a read error leaves catalogue as it was.
    static bool readWhole(QIODevice& device, Catalogue& catalogue, ReadReport* report = nullptr,
                          QString* error = nullptr);

    // Windows-1252 bytes to text; the five bytes without a character map to U+0081 etc.
    static QString decode(std::string_view bytes, bool dropQuotes = false);

    // Sizes, adjustable for tests.
    void setChunkSize(qsizetype bytes) { m_chunkSize = qMax<qsizetype>(1, bytes); }
    void setMaxLineLength(qsizetype bytes);

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
    qsizetype m_chunkSize = DefaultChunkSize;
    std::string m_clean;   // the current line after clean-up
    std::string m_pending; // a line that straddles chunks, at most the line-length limit
    bool m_pendingOverlong = false;
};

} // namespace morvandell
