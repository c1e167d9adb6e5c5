#include "logdefinitionreader.h"

#include "catalogue/numberconversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <cstring>

namespace morvandell {

namespace {

constexpr std::string_view ChannelWord = "channel";

// Windows-1252 bytes 0x80..0x9F; every other byte is the Unicode code point of the same value.
// The five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep their C1 control code points.
constexpr char16_t HighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t fromWindows1252(unsigned char byte)
{
    return (byte >= 0x80 && byte <= 0x9F) ? HighControlRange[byte - 0x80] : char16_t(byte);
}

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

} // namespace

QString ReadReport::warningText() const
{
    QStringList parts;
    if (channelsLeftOut > 0) {
        parts << (channelsLeftOut == 1
                      ? QStringLiteral("1 Kanal nach dem %1. Katalogeintrag wurde nicht übernommen; "
                                       "der Katalog fasst höchstens %1 Kanäle.")
                            .arg(Catalogue::LastIndex)
                      : QStringLiteral("%1 Kanäle nach dem %2. Katalogeintrag wurden nicht übernommen; "
                                       "der Katalog fasst höchstens %2 Kanäle.")
                            .arg(channelsLeftOut)
                            .arg(Catalogue::LastIndex));
    }
    if (outOfRangeCount > 0) {
        QString text =
            outOfRangeCount == 1
                ? QStringLiteral("1 Wert liegt außerhalb von 0 bis 255 und wurde als 0 übernommen:")
                : QStringLiteral("%1 Werte liegen außerhalb von 0 bis 255 und wurden als 0 übernommen:")
                      .arg(outOfRangeCount);
        for (const QString& value : outOfRange)
            text += QLatin1Char('\n') + value;
        if (outOfRangeCount > outOfRange.size())
            text += QStringLiteral("\nund %1 weitere").arg(outOfRangeCount - outOfRange.size());
        parts << text;
    }
    if (entriesLeftOut > 0)
        parts << QStringLiteral("%1 weitere Namen wurden nicht in die Listen aufgenommen (höchstens %2).")
                     .arg(entriesLeftOut)
                     .arg(LogDefinitionReader::MaxEntries);
    if (overlongLines > 0) {
        parts << (overlongLines == 1
                      ? QStringLiteral("1 Zeile war länger als %L1 Zeichen; nur ihr Anfang wurde gelesen.")
                            .arg(lineLengthLimit)
                      : QStringLiteral(
                            "%1 Zeilen waren länger als %L2 Zeichen; nur ihr Anfang wurde gelesen.")
                            .arg(overlongLines)
                            .arg(lineLengthLimit));
    }
    return parts.join(QStringLiteral("\n\n"));
}

LogDefinitionReader::LogDefinitionReader(Catalogue& catalogue)
    : m_catalogue(catalogue)
{
    m_report.lineLengthLimit = DefaultMaxLineLength;
}

void LogDefinitionReader::setMaxLineLength(qsizetype bytes)
{
    m_report.lineLengthLimit = qMax<qsizetype>(1, bytes);
}

QString LogDefinitionReader::decode(std::string_view bytes, bool dropQuotes)
{
    QString text(qsizetype(bytes.size()), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype length = 0;
    for (const char c : bytes) {
        if (dropQuotes && c == '"')
            continue;
        out[length++] = fromWindows1252(static_cast<unsigned char>(c));
    }
    text.truncate(length);
    return text;
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
        QString number;
    };
    QList<Rejected> rejected;
    std::string_view lastName; // the line's last name wins; decoded once, below
    bool hasName = false;

    forEachAttribute(m_clean, [&](Key key, std::string_view raw) {
        if (key == Key::Name) {
            if (m_report.entries.size() < MaxEntries)
                m_report.entries.append({decode(raw, true), n});
            else
                ++m_report.entriesLeftOut;
            lastName = raw;
            hasName = true;
            return true;
        }
        const QString value = decode(raw, true);
        switch (key) {
        case Key::Name:
            break;
        case Key::Unit:
            m_catalogue.unit[n] = value;
            break;
        case Key::Storage:
            m_catalogue.storage[n] = value;
            break;
        case Key::Divider:
        case Key::Channel: {
            const ConvertedNumber number = convertNumber(value);
            const std::uint8_t stored = number.inRange ? std::uint8_t(number.value) : 0;
            (key == Key::Divider ? m_catalogue.divider : m_catalogue.number)[n] = stored;
            if (!number.inRange && m_report.outOfRangeCount++ < ShownOutOfRange)
                rejected.append(
                    {key == Key::Divider ? "divider" : "channel", value.left(leadingNumberLength(value))});
            break;
        }
        case Key::None:
            break;
        }
        return true;
    });

    if (hasName)
        m_catalogue.name[n] = decode(lastName, true);
    // Named after the whole line is read: the name may stand after the number.
    const QString label = hasName ? m_catalogue.name[n] : QStringLiteral("Kanal %1").arg(n);
    for (const Rejected& r : rejected)
        m_report.outOfRange << QStringLiteral("%1: %2 = %3").arg(label, QLatin1String(r.key), r.number);
}

void LogDefinitionReader::processLine(QByteArrayView line)
{
    const std::string_view bytes(line.data(), std::size_t(line.size()));
    // Clean-up neither makes nor breaks "channel" (it only touches blanks, tabs and '='),
    // so the raw bytes can be tested first; most lines of a large file end here.
    if (bytes.find(ChannelWord) == std::string_view::npos)
        return;
    clean(bytes);
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
    const std::size_t room = std::size_t(m_report.lineLengthLimit) - m_pending.size();
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
    processLine(QByteArrayView(m_pending.data(), qsizetype(m_pending.size())));
    m_pending.clear();
    m_pendingOverlong = false;
}

bool LogDefinitionReader::read(QIODevice& device, QString* error)
{
    if (!device.isReadable()) {
        if (error)
            *error = QStringLiteral("Die Datei ist nicht zum Lesen geöffnet.");
        return false;
    }

    m_pending.clear();
    m_pendingOverlong = false;
    bool lineOpen = false; // bytes of an unfinished line have been seen (m_pending may still be empty)
    bool skipLf = false;   // the previous chunk ended in CR: an LF at the start of the next belongs to it
    const std::size_t limit = std::size_t(m_report.lineLengthLimit);
    QByteArray chunk(m_chunkSize, Qt::Uninitialized);

    for (;;) {
        const qint64 got = device.read(chunk.data(), m_chunkSize);
        if (got < 0) {
            if (error)
                *error = QStringLiteral("Lesefehler: %1").arg(device.errorString());
            m_pending.clear();
            m_pendingOverlong = false;
            return false;
        }
        if (got == 0)
            break;

        const char* p = chunk.constData();
        const char* const end = p + got;
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
            const char* const eol = qMin(nextCr, nextLf);
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
                processLine(QByteArrayView(p, qsizetype(limit)));
            } else {
                processLine(QByteArrayView(p, eol - p));
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

bool LogDefinitionReader::readFile(const QString& path, Catalogue& catalogue, ReadReport* report,
                                   QString* error)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (report)
        *report = ReadReport{};
    // A device or a FIFO would block the open or the read, or never end: only regular files are read.
    const QFileInfo target(path);
    if (!path.isEmpty() && target.exists() && !target.isDir() && !target.isFile()) {
        if (error)
            *error = QStringLiteral("„%1“ wird nicht gelesen: Das ist keine gewöhnliche Datei "
                                    "(sondern ein Gerät, eine Pipe oder ein Socket).")
                         .arg(shown);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) {
            const QFileInfo info(path);
            if (path.isEmpty())
                *error = QStringLiteral("Es wurde keine Datei gewählt.");
            else if (!info.exists())
                *error = QStringLiteral("Die Datei „%1“ kann nicht geöffnet werden: Sie existiert nicht.")
                             .arg(shown);
            else if (info.isDir())
                *error = QStringLiteral("„%1“ kann nicht geöffnet werden: Das ist ein Ordner, keine Datei.")
                             .arg(shown);
            else if (!info.isReadable())
                *error = QStringLiteral("Die Datei „%1“ kann nicht geöffnet werden: Keine Leseberechtigung.")
                             .arg(shown);
            else
                *error = QStringLiteral("Die Datei „%1“ kann nicht geöffnet werden: %2")
                             .arg(shown, file.errorString());
        }
        return false;
    }
    QString readError;
    if (readWhole(file, catalogue, report, &readError))
        return true;
    if (error)
        *error = QStringLiteral("Die Datei „%1“ konnte nicht vollständig gelesen werden. %2 "
                                "Katalog und Listen bleiben unverändert.")
                     .arg(shown, readError);
    return false;
}

bool LogDefinitionReader::readWhole(QIODevice& device, Catalogue& catalogue, ReadReport* report,
                                    QString* error)
{
    // Into a copy: a read that fails part-way must not leave entries behind that the lists, given
    // back their old contents, would then point at.
    Catalogue scratch = catalogue;
    LogDefinitionReader reader(scratch);
    const bool ok = reader.read(device, error);
    if (report)
        *report = reader.report();
    if (ok)
        catalogue = std::move(scratch);
    return ok;
}

} // namespace morvandell
