// Profiles: the strict reader, the atomic save, and loading and saving through the control window.
#include "testsupport.h"
#include "writer/profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace morvandell;
using namespace morvandell::test;

namespace {

const QByteArray ValidProfile =
    R"({"format": "morvandell-profile", "version": 1, "logDefinition": "/ecu/V3.xml",
 "defaultView": 2, "slots": [
  {"slot": 1, "channel": "RPM", "number": 12, "divider": 1, "name": "Drehz", "unit": "rpm"},
  {"slot": 5, "channel": "Batt", "number": 7, "divider": 100, "name": "Akku", "unit": "V"}]})";

DisplayConfiguration validConfiguration()
{
    DisplayConfiguration c;
    c.logDefinition = QStringLiteral("/ecu/V3.xml");
    c.defaultView = 2;
    Profile::slot(c, 1) = SlotSetting{"RPM", 12, 1, "Drehz", "rpm"};
    Profile::slot(c, 5) = SlotSetting{"Batt", 7, 100, "Akku", "V"};
    return c;
}

QByteArray replaced(const char* before, const QByteArray& after)
{
    QByteArray bytes = ValidProfile;
    if (!bytes.contains(before))
        qFatal("row does not apply: %s", before);
    return bytes.replace(before, after);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT
private slots:
    void refusesABadProfile_data();
    void refusesABadProfile();
    void readsAndWritesBackEqual_data();
    void readsAndWritesBackEqual();
    void failedSaveKeepsTheOldProfile_data();
    void failedSaveKeepsTheOldProfile();
};

void TestProfile::refusesABadProfile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message"); // part of the one message

    QTest::newRow("unknown format") << replaced("morvandell-profile", "dashboard")
                                    << "Unbekanntes Format \"dashboard\"";
    QTest::newRow("newer version") << replaced("\"version\": 1", "\"version\": 2") << "Version 2";
    QTest::newRow("newer version, other fields")
        << QByteArray(R"({"format": "morvandell-profile", "version": 7})") << "Version 7";
    QTest::newRow("version 0") << replaced("\"version\": 1", "\"version\": 0") << "\"version\" ist 0";
    QTest::newRow("version as text") << replaced("\"version\": 1", "\"version\": \"1\"")
                                     << "\"version\" ist keine ganze Zahl";
    QTest::newRow("missing logDefinition")
        << replaced("\"logDefinition\": \"/ecu/V3.xml\",", "") << "\"logDefinition\" fehlt";
    QTest::newRow("missing slots") << replaced(", \"slots\"", ", \"slotz\"") << "\"slots\" fehlt";
    QTest::newRow("slots not a list") << QByteArray(R"({"format": "morvandell-profile", "version": 1,
        "logDefinition": "", "defaultView": 1, "slots": {}})")
                                      << "\"slots\" ist keine Liste";
    QTest::newRow("slot entry not an object")
        << replaced("\"slots\": [", "\"slots\": [3, ") << "Eintrag 1 in \"slots\"";
    QTest::newRow("missing unit") << replaced(", \"unit\": \"V\"", "")
                                  << "Eintrag 2 in \"slots\": \"unit\" fehlt";
    QTest::newRow("number as text") << replaced("\"number\": 12", "\"number\": \"12\"")
                                    << "Eintrag 1 in \"slots\": \"number\" ist keine ganze Zahl";
    QTest::newRow("number not whole")
        << replaced("\"number\": 12", "\"number\": 12.5") << "\"number\" ist keine ganze";
    QTest::newRow("number 256") << replaced("\"number\": 12", "\"number\": 256")
                                << "\"number\" ist 256, erlaubt sind 0 bis 255";
    QTest::newRow("divider -1") << replaced("\"divider\": 100", "\"divider\": -1") << "\"divider\" ist -1";
    QTest::newRow("divider null") << replaced("\"divider\": 100", "\"divider\": null")
                                  << "\"divider\" ist keine ganze";
    QTest::newRow("default view 4") << replaced("\"defaultView\": 2", "\"defaultView\": 4")
                                    << "\"defaultView\" ist 4";
    QTest::newRow("slot 0") << replaced("\"slot\": 5", "\"slot\": 0")
                            << "\"slot\" ist 0, erlaubt sind 1 bis 8";
    QTest::newRow("slot 9") << replaced("\"slot\": 5", "\"slot\": 9") << "\"slot\" ist 9";
    QTest::newRow("slot twice") << replaced("\"slot\": 5", "\"slot\": 1") << "Slot 1 ist mehrfach angegeben";
    QTest::newRow("name of 9") << replaced("\"Drehz\"", "\"Drehzahl1\"") << "länger als 8 Zeichen";
    QTest::newRow("unit of 4") << replaced("\"rpm\"", "\"rpm2\"") << "länger als 3 Zeichen";
    QTest::newRow("lone surrogate") << replaced("\"Akku\"", "\"\\ud800\"") << "ungültiges Zeichen";
    QTest::newRow("Latin-1, not UTF-8") << replaced("\"Akku\"", "\"\xC4GT\"") << "kein gültiger UTF-8-Text";
    QTest::newRow("cut short") << ValidProfile.left(ValidProfile.size() - 3) << "kein gültiges JSON";
    QTest::newRow("top level list") << QByteArray("[1, 2]") << "kein JSON-Objekt";
    QTest::newRow("empty file") << QByteArray() << "kein gültiges JSON";
    QTest::newRow("over 1 MB") << ValidProfile + QByteArray(Profile::MaxFileSize, ' ') << "größer als 1 MB";
}

void TestProfile::refusesABadProfile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString path = writeTempFile(QStringLiteral("bad.morvandell.json"), bytes);
    QString error;
    QVERIFY(!Profile::load(path, &error));
    QVERIFY2(error.contains(message) && error.contains(path), qPrintable(error));
}

void TestProfile::readsAndWritesBackEqual_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<DisplayConfiguration>("expected");

    QTest::newRow("two slots") << ValidProfile << validConfiguration();
    DisplayConfiguration c = validConfiguration();
    QTest::newRow("unknown keys, byte order mark")
        << "\xEF\xBB\xBF" + replaced("\"slots\"", "\"colour\": [1, {}], \"slots\"")
                                .replace("\"slot\": 5", "\"slot\": 5, \"x\": 1")
        << c;
    Profile::slot(c, 5).reset();
    Profile::slot(c, 1) =
        SlotSetting{"\"a\\b\"\n\t", 0, 255, QString::fromUtf8("Öl \"2\""), QString::fromUtf8("°C")};
    c.logDefinition = QString::fromUtf8("C:\\ECU\\Versiön 3.xml");
    c.defaultView = 0;
    QTest::newRow("quotes, backslashes, control characters, umlauts") << Profile::toJson(c) << c;
    QTest::newRow("no slots") << QByteArray(R"({"format": "morvandell-profile", "version": 1,
        "logDefinition": "", "defaultView": 3, "slots": []})")
                              << DisplayConfiguration{QString(), 3, {}};
}

void TestProfile::readsAndWritesBackEqual()
{
    QFETCH(QByteArray, bytes);
    QFETCH(DisplayConfiguration, expected);
    QString error;
    const auto read = Profile::parse(bytes, &error);
    QVERIFY2(read, qPrintable(error));
    QVERIFY(*read == expected);
    const QString path = QDir::temp().filePath(QStringLiteral("roundtrip-%1.morvandell.json").arg(getpid()));
    QVERIFY2(Profile::save(path, *read, &error), qPrintable(error));
    const auto again = Profile::load(path, &error);
    QFile::remove(path);
    QVERIFY2(again, qPrintable(error));
    QVERIFY(*again == expected);
}

void TestProfile::failedSaveKeepsTheOldProfile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("disk full") << "full";             // writes beyond a few bytes fail, as on a full disk
    QTest::newRow("folder missing") << "missing";     // the folder of the profile does not exist
    QTest::newRow("profile is a folder") << "folder"; // the name is taken by a folder
    QTest::newRow("name too long for profile") << "unsendable"; // a name that would not read back
}

void TestProfile::failedSaveKeepsTheOldProfile()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("car.morvandell.json"));
    const QByteArray old = Profile::toJson(DisplayConfiguration{});
    DisplayConfiguration next = validConfiguration();
    QString error;
    QVERIFY(Profile::save(path, DisplayConfiguration{}, &error));
    bool saved = true;
    if (how == QLatin1String("full")) {
        // The file-size limit makes every write past 64 bytes fail with EFBIG, root or not.
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit small = before;
        small.rlim_cur = 64;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        saved = Profile::save(path, next, &error);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
    } else if (how == QLatin1String("missing")) {
        saved = Profile::save(dir.filePath(QStringLiteral("gone/car.morvandell.json")), next, &error);
    } else if (how == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.morvandell.json")));
        saved = Profile::save(dir.filePath(QStringLiteral("taken.morvandell.json")), next, &error);
    } else {
        Profile::slot(next, 3) = SlotSetting{"X", 1, 1, "123456789", "u"};
        saved = Profile::save(path, next, &error);
    }
    QVERIFY(!saved);
    QVERIFY2(error.contains(QLatin1String("kann nicht gespeichert werden")), qPrintable(error));
    QCOMPARE(readAll(path), old);
    // No temporary file is left behind.
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList{QStringLiteral("car.morvandell.json")});
}

QTEST_MAIN(TestProfile)
#include "tst_profile.moc"
