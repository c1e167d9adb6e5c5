#include "catalogue/logdefinitionreader.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

using namespace morvandell;

namespace {

// Hands out its data a few bytes per read and fails once failAt bytes have been read.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(QByteArray data, qint64 failAt)
        : m_data(std::move(data))
        , m_failAt(failAt)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        if (m_pos >= m_failAt) {
            setErrorString(QStringLiteral("simulated failure"));
            return -1;
        }
        const qint64 n = std::min({max, qint64(3), qint64(m_data.size()) - m_pos});
        memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_failAt;
    qint64 m_pos = 0;
};

// Every entry holds values that no test line produces, to tell "not written" from "written empty".
Catalogue presetCatalogue()
{
    Catalogue c;
    for (int i = 1; i <= Catalogue::LastIndex; ++i) {
        c.name[i] = QStringLiteral("old%1").arg(i);
        c.unit[i] = c.storage[i] = QStringLiteral("old");
        c.number[i] = 99;
        c.divider[i] = 98;
    }
    return c;
}

// "name|number|unit|divider|storage" of one entry.
QString entryText(const Catalogue& c, int i)
{
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(c.name[i])
        .arg(c.number[i])
        .arg(c.unit[i])
        .arg(c.divider[i])
        .arg(c.storage[i]);
}

QString catalogueText(const Catalogue& c, int skip = -1)
{
    QStringList all;
    for (int i = 0; i < Catalogue::Size; ++i)
        all << (i == skip ? QString() : entryText(c, i));
    return all.join(u'\n');
}

QStringList entriesOf(const ReadReport& report)
{
    QStringList out;
    for (const CatalogueEntry& e : report.entries)
        out << QStringLiteral("%1@%2").arg(e.name).arg(e.index);
    return out;
}

ReadReport readBytes(Catalogue& catalogue, const QByteArray& bytes, qsizetype chunk = 0, qsizetype limit = 0)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    LogDefinitionReader reader(catalogue);
    if (chunk > 0)
        reader.setChunkSize(chunk);
    if (limit > 0)
        reader.setMaxLineLength(limit);
    if (!reader.read(buffer))
        qWarning("read failed");
    return reader.report();
}

} // namespace

class TestLogDefinitionReader : public QObject
{
    Q_OBJECT

private slots:
    void singleLine_data();
    void singleLine();
    void indexing_data();
    void indexing();
    void lineEnds_data();
    void lineEnds();
    void overlongLine_data();
    void overlongLine();
    void tooManyChannels();
    void windows1252MatchesQtDecoder();
    void readFile();
    void onlyRegularFilesAreRead_data();
    void onlyRegularFilesAreRead();
    void readError();
    void reportListsAreBounded();
};

void TestLogDefinitionReader::singleLine_data()
{
    // result: entry 1 as "name|number|unit|divider|storage", then the listed names in [], then any
    // out-of-range reports after "!". Entry 1 starts as "old1|99|old|98|old".
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("result");

    QTest::newRow("worked example")
        << QByteArray(
               "\t<channel name=\"Oil_P\" channel = \"12\" unit=\"bar\" divider=\"10\" storage=\"s16\"/>")
        << "Oil_P|12|bar|10|s16/> [Oil_P]";
    QTest::newRow("one blank around =")
        << QByteArray("<channel name = \"Oil_P\" x") << "Oil_P|99|old|98|old [Oil_P]";
    QTest::newRow("two blanks around = lose it")
        << QByteArray("<channel name  =  \"Oil_P\" unit=u") << "old1|99|u|98|old []";
    QTest::newRow("blank after = gives empty")
        << QByteArray("<channel name= \"Oil_P\"/>") << "|99|old|98|old []";
    QTest::newRow("blank cuts value")
        << QByteArray("<channel name=\"Oil press\"/>") << "Oil|99|old|98|old [Oil]";
    QTest::newRow("second = ends value")
        << QByteArray("<channel name=\"a=b\" unit=x=y") << "a|99|x|98|old [a]";
    QTest::newRow("closing characters")
        << QByteArray("<channel divider=\"10\"/ name=\"Oil_P\"/>") << "Oil_P/>|99|old|10|old [Oil_P/>]";
    QTest::newRow("keys are case-sensitive")
        << QByteArray("<channel Name=X UNIT=u name2=Z =v") << "old1|99|old|98|old []";
    QTest::newRow("token 0 is skipped") << QByteArray("name=\"X\" channel=\"3\"") << "old1|3|old|98|old []";
    QTest::newRow("two names, two entries")
        << QByteArray("<channel name=A unit=a name=B unit=b") << "B|99|b|98|old [A,B]";
    QTest::newRow("no attributes") << QByteArray("<channels>") << "old1|99|old|98|old []";
    QTest::newRow("tabs, outer and double blanks")
        << QByteArray("  \t<channel\t\tname=\"T\"\t \t") << "T|99|old|98|old [T]";
    QTest::newRow("every quote removed")
        << QByteArray("<channel unit=\"b\"a\"r\"") << "old1|99|bar|98|old []";
    QTest::newRow("windows-1252") << QByteArray("<channel name=\"\xD6l\x80\"")
                                  << QString::fromUtf8("Öl€|99|old|98|old [Öl€]");
    QTest::newRow("numbers") << QByteArray("<channel divider=2.5 channel=abc") << "old1|0|old|2|old []";
    QTest::newRow("long value kept whole") << (QByteArray("<channel storage=") + QByteArray(5000, 'v'))
                                           << "old1|99|old|98|" + QString(5000, u'v') + " []";
    // Out of 0..255: 0 stored (not wrapped, not the old value) and reported under the line's name.
    QTest::newRow("divider 300") << QByteArray("<channel name=Oil_P divider=\"300\"/>")
                                 << "Oil_P|99|old|0|old [Oil_P] !Oil_P: divider = 300";
    QTest::newRow("name after the number")
        << QByteArray("<channel channel=-1 name=Oil_P") << "Oil_P|0|old|98|old [Oil_P] !Oil_P: channel = -1";
    QTest::newRow("no name") << QByteArray("<channel channel=\"-1\"/>")
                             << "old1|0|old|98|old [] !Kanal 1: channel = -1";
    QTest::newRow("number as written") << QByteArray("<channel name=X divider=1e400 channel=\"255.5kg\"/>")
                                       << "X|0|old|0|old [X] !X: divider = 1e400;X: channel = 255.5";
}

void TestLogDefinitionReader::singleLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, result);

    Catalogue catalogue = presetCatalogue();
    const Catalogue before = presetCatalogue();
    LogDefinitionReader reader(catalogue);
    reader.processLine(line);
    QStringList names;
    for (const CatalogueEntry& e : reader.report().entries) {
        QCOMPARE(e.index, 1);
        names << e.name;
    }
    QString actual = entryText(catalogue, 1) + " [" + names.join(u',') + ']';
    if (!reader.report().outOfRange.isEmpty())
        actual += " !" + reader.report().outOfRange.join(u';');
    QCOMPARE(actual, result);
    QCOMPARE(catalogueText(catalogue, 1), catalogueText(before, 1)); // nothing else touched
}

void TestLogDefinitionReader::indexing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("channelLines");

    QTest::newRow("header and comment take indices")
        << QByteArray("<?xml version=\"1.0\"?>\n<!-- channel list -->\n<channels>\n<channel name=A\n"
                      "<channel name=B\n</channels>\n")
        << QStringList{"A@3", "B@4"} << 5;
    QTest::newRow("other case takes no index")
        << QByteArray("<Channel name=X\n<CHANNEL name=Y\n<channel name=A\n") << QStringList{"A@1"} << 1;
    QTest::newRow("line without name")
        << QByteArray("<channel name=A\n<channel unit=u\n<channel name=C") << QStringList{"A@1", "C@3"} << 3;
    QTest::newRow("empty file") << QByteArray() << QStringList{} << 0;
}

void TestLogDefinitionReader::indexing()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, entries);
    QFETCH(int, channelLines);

    Catalogue catalogue = presetCatalogue();
    const ReadReport report = readBytes(catalogue, file);
    QCOMPARE(entriesOf(report), entries);
    QCOMPARE(report.channelLines, channelLines);
    for (const CatalogueEntry& e : report.entries)
        QCOMPARE(catalogue.name[e.index], e.name);
    QCOMPARE(catalogue.name[channelLines + 1], QStringLiteral("old%1").arg(channelLines + 1));
    QVERIFY(report.warningText().isEmpty());
}

void TestLogDefinitionReader::lineEnds_data()
{
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<int>("chunk");
    for (const char* end : {"\n", "\r", "\r\n"})
        for (int chunk : {1, 2, 3, 5, 64 * 1024})
            QTest::addRow("%s chunk %d", QByteArray(end).toPercentEncoding().constData(), chunk)
                << QByteArray(end) << chunk;
}

void TestLogDefinitionReader::lineEnds()
{
    QFETCH(QByteArray, lineEnd);
    QFETCH(int, chunk);

    const QList<QByteArray> lines = {
        "<channels>",
        "\t<channel name=\"A\" channel=\"1\" unit=\"u\" divider=\"10\" storage=\"s16\"/>",
        "",
        "<channel name=\"B\" channel=\"2\"/>",
        "<channel name=\"C\" unit=\"x\"/>", // the last without line end
    };
    Catalogue expected = presetCatalogue();
    LogDefinitionReader direct(expected);
    for (const QByteArray& line : lines)
        direct.processLine(line);

    Catalogue catalogue = presetCatalogue();
    const ReadReport report = readBytes(catalogue, lines.join(lineEnd), chunk);
    QCOMPARE(catalogueText(catalogue), catalogueText(expected));
    QCOMPARE(entriesOf(report), entriesOf(direct.report()));
    QCOMPARE(report.channelLines, 4);
}

void TestLogDefinitionReader::overlongLine_data()
{
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("limit");
    QTest::newRow("defaults") << 0 << 0;
    QTest::newRow("small chunks") << 7 << 100;
}

void TestLogDefinitionReader::overlongLine()
{
    QFETCH(int, chunk);
    QFETCH(int, limit);
    const qsizetype max = limit > 0 ? limit : LogDefinitionReader::DefaultMaxLineLength;

    // A line exactly at the limit is read whole; of a longer one only what lies within the limit.
    QByteArray exact = "<channel name=\"Exact\" unit=";
    exact += QByteArray(max - exact.size(), 'u');
    const QByteArray longLine =
        "<channel name=\"Long\" unit=\"u\" " + QByteArray(max * 3, 'x') + " divider=\"7\"";
    Catalogue catalogue = presetCatalogue();
    const ReadReport report =
        readBytes(catalogue, exact + "\r\n" + longLine + "\r\n<channel name=N", chunk, limit);

    QCOMPARE(entriesOf(report), (QStringList{"Exact@1", "Long@2", "N@3"}));
    QCOMPARE(catalogue.unit[1].size(), max - 27);
    QCOMPARE(entryText(catalogue, 2), QStringLiteral("Long|99|u|98|old"));
    QCOMPARE(report.overlongLines, 1);
    QVERIFY(report.warningText().contains(QStringLiteral("1 Zeile war länger als")));
}

void TestLogDefinitionReader::tooManyChannels()
{
    QByteArray file = "<channels>\n"; // index 1
    for (int i = 1; i <= 299; ++i)
        file += "<channel name=C" + QByteArray::number(i) + " divider=" + QByteArray::number(300 + i) + "\n";
    file += "</channels>\n"; // index 301: carries nothing, so nothing is lost

    Catalogue catalogue;
    const ReadReport report = readBytes(catalogue, file);
    QCOMPARE(report.channelLines, 301);
    QCOMPARE(report.entries.size(), 255);
    QCOMPARE(report.entries.last().index, 256);
    QCOMPARE(entryText(catalogue, 256), QStringLiteral("C255|0||0|"));
    QCOMPARE(entryText(catalogue, 0), QStringLiteral("|0||0|"));
    QCOMPARE(report.channelsLeftOut, 44);
    QCOMPARE(report.outOfRangeCount, 255); // only stored lines report their values
    QCOMPARE(report.outOfRange.size(), LogDefinitionReader::ShownOutOfRange);
    const QString warning = report.warningText();
    QVERIFY2(warning.contains(QStringLiteral("44 Kanäle")) &&
                 warning.contains(QStringLiteral("C5: divider = 305")) &&
                 !warning.contains(QStringLiteral("C6:")) &&
                 warning.contains(QStringLiteral("und 250 weitere")),
             qPrintable(warning));
}

void TestLogDefinitionReader::windows1252MatchesQtDecoder()
{
    QStringDecoder qt("windows-1252");
    if (!qt.isValid())
        QSKIP("this Qt has no windows-1252 decoder");
    for (int b = 0; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue; // unassigned in Windows-1252
        const char byte = char(b);
        QCOMPARE(LogDefinitionReader::decode(std::string_view(&byte, 1)),
                 qt.decode(QByteArrayView(&byte, 1)));
    }
}

void TestLogDefinitionReader::readFile()
{
    // Read over a catalogue from an earlier, longer file: entries beyond the new file stay.
    Catalogue catalogue = presetCatalogue();
    ReadReport report;
    QString error;
    QVERIFY2(LogDefinitionReader::readFile(QStringLiteral(MORVANDELL_TEST_DATA "/logdef_sample.xml"),
                                           catalogue, &report, &error),
             qPrintable(error));
    QCOMPARE(entriesOf(report), (QStringList{"RPM@3", "Oil_P@4", QString::fromUtf8("Öltemp@5")}));
    QCOMPARE(entryText(catalogue, 5), QString::fromUtf8("Öltemp|13|°C|1|s8/>"));
    QCOMPARE(entryText(catalogue, 7), QStringLiteral("old7|99|old|98|old"));

    const QString missing = QStringLiteral(MORVANDELL_TEST_DATA "/logdef_missing.xml");
    QVERIFY(!LogDefinitionReader::readFile(missing, catalogue, &report, &error));
    QVERIFY2(error.contains(QStringLiteral("logdef_missing.xml")) &&
                 error.contains(QStringLiteral("existiert nicht")),
             qPrintable(error));
}

void TestLogDefinitionReader::onlyRegularFilesAreRead_data()
{
    QTest::addColumn<QString>("path");
    const QString fifo = QDir(QDir::tempPath()).filePath(QStringLiteral("morvandell-fifo-%1").arg(getpid()));
    ::unlink(QFile::encodeName(fifo).constData());
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QTest::newRow("FIFO without a writer") << fifo;
    QTest::newRow("character device") << QStringLiteral("/dev/zero");
}

void TestLogDefinitionReader::onlyRegularFilesAreRead()
{
    QFETCH(QString, path);
    Catalogue catalogue = presetCatalogue();
    ReadReport report;
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!LogDefinitionReader::readFile(path, catalogue, &report, &error));
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY2(error.contains(QStringLiteral("keine gewöhnliche Datei")) && error.contains(path),
             qPrintable(error));
    QCOMPARE(entryText(catalogue, 1), QStringLiteral("old1|99|old|98|old"));
    if (path.contains(QLatin1String("fifo")))
        QFile::remove(path);
}

void TestLogDefinitionReader::readError()
{
    {
        // Read as a whole: a failure part-way leaves the catalogue exactly as it was.
        Catalogue catalogue = presetCatalogue();
        const QByteArray file = "<channel name=A unit=x\n<channel name=B\n<channel name=C\n";
        FailingDevice device(file, file.indexOf("<channel name=C"));
        ReadReport report;
        QString error;
        QVERIFY(!LogDefinitionReader::readWhole(device, catalogue, &report, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(entryText(catalogue, 1), QStringLiteral("old1|99|old|98|old"));
        QCOMPARE(entryText(catalogue, 2), QStringLiteral("old2|99|old|98|old"));
    }

    Catalogue catalogue = presetCatalogue();
    const QByteArray file = "<channel name=A\n<channel name=B\n<channel name=C\n";
    FailingDevice device(file, file.indexOf("<channel name=C"));
    LogDefinitionReader reader(catalogue);
    QString error;
    QVERIFY(!reader.read(device, &error));
    QVERIFY2(error.contains(QStringLiteral("simulated failure")), qPrintable(error));
    QCOMPARE(entriesOf(reader.report()), (QStringList{"A@1", "B@2"}));
    QCOMPARE(catalogue.name[3], QStringLiteral("old3"));
}

void TestLogDefinitionReader::reportListsAreBounded()
{
    // Lines of 64 KiB full of names and out-of-range values: the report keeps what the lists and the
    // warning show, and counts the rest.
    QByteArray line = "<channel";
    const QByteArray pair = " name=n divider=300";
    while (line.size() + pair.size() <= LogDefinitionReader::DefaultMaxLineLength)
        line += pair;
    QByteArray file;
    for (int i = 0; i < 16; ++i)
        file += line + "\n";
    const qsizetype perLine = line.count(" name=");
    Catalogue catalogue;
    const ReadReport report = readBytes(catalogue, file);
    QCOMPARE(report.entries.size(), LogDefinitionReader::MaxEntries);
    QCOMPARE(report.entriesLeftOut, 16 * perLine - LogDefinitionReader::MaxEntries);
    QCOMPARE(report.outOfRangeCount, 16 * perLine);
    QCOMPARE(report.outOfRange.size(), LogDefinitionReader::ShownOutOfRange);
    QCOMPARE(catalogue.name[16], QStringLiteral("n"));
    const QString warning = report.warningText();
    QVERIFY2(warning.contains(QStringLiteral("%1 weitere Namen").arg(report.entriesLeftOut)) &&
                 warning.contains(QStringLiteral("%1 Werte").arg(report.outOfRangeCount)),
             qPrintable(warning));
}

QTEST_GUILESS_MAIN(TestLogDefinitionReader)
#include "tst_logdefinitionreader.moc"
