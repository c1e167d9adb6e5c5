// Profiles: the strict reader, the atomic save, and loading and saving through the control window.
#include "testsupport.h"
#include "ui/combobox.h"
#include "writer/profile.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
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

const QByteArray LogDefinition = "<channels>\r\n"
                                 "<channel name=\"RPM\" channel=\"12\" unit=\"rpm\" divider=\"1\"/>\r\n"
                                 "<channel name=\"Oil_P\" channel=\"13\" unit=\"bar\" divider=\"10\"/>\r\n"
                                 "<channel name=\"Batt\" channel=\"7\" unit=\"V\" divider=\"100\"/>\r\n"
                                 "<channel name=\"MAP\" channel=\"200\" unit=\"kPa\" divider=\"1\"/>\r\n"
                                 "</channels>\r\n";

// Everything a profile load could change, as text.
QString windowState(const Form1& f)
{
    QStringList parts;
    for (int k = 1; k <= 8; ++k) {
        const auto& row = f.slotRows[k];
        parts << QStringLiteral("%1:%2/%3/%4/%5/%6/%7/%8")
                     .arg(k)
                     .arg(row.list->count())
                     .arg(row.list->listIndex())
                     .arg(row.list->text(), row.name->text(), row.unit->text())
                     .arg(f.slotChannel[k])
                     .arg(f.slotDivider[k]);
    }
    parts << f.Combo10->text() << QString::number(f.Combo10->listIndex()) << QString::number(f.List1->count())
          << f.windowTitle() << QString::fromUtf8(Profile::toJson(f.profileConfiguration()));
    return parts.join(QLatin1Char('|'));
}

// A window without a port that has read the log-definition file and has slots 1 and 2 picked.
std::unique_ptr<Form1> windowWithChoices(ScriptedDialogs& dialogs, const QString& logDefinition)
{
    auto f = std::make_unique<Form1>(directoryOf({}), &dialogs);
    dialogs.fileAnswers = {logDefinition};
    f->Command1->click();
    pick(f->Combo1, 0);
    pick(f->Combo2, 3);
    f->Text2->setText(QStringLiteral("Ladedr"));
    return f;
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
    void windowRoundTripSendsTheSameFrames();
    void loadingMatchesChannelsByName_data();
    void loadingMatchesChannelsByName();
    void contextMenuOffersTheProfileCommands();
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
    QTest::newRow("default view 4") << replaced("\"defaultView\": 2", "\"defaultView\": 4")
                                    << "\"defaultView\" ist 4";
    QTest::newRow("slot 0") << replaced("\"slot\": 5", "\"slot\": 0")
                            << "\"slot\" ist 0, erlaubt sind 1 bis 8";
    QTest::newRow("slot twice") << replaced("\"slot\": 5", "\"slot\": 1") << "Slot 1 ist mehrfach angegeben";
    QTest::newRow("name of 9") << replaced("\"Drehz\"", "\"Drehzahl1\"") << "länger als 8 Zeichen";
    QTest::newRow("unit of 4") << replaced("\"rpm\"", "\"rpm2\"") << "länger als 3 Zeichen";
    QTest::newRow("lone surrogate") << replaced("\"Akku\"", "\"\\ud800\"") << "ungültiges Zeichen";
    QTest::newRow("Latin-1, not UTF-8") << replaced("\"Akku\"", "\"\xC4GT\"") << "kein gültiger UTF-8-Text";
    QTest::newRow("cut short") << ValidProfile.left(ValidProfile.size() - 3) << "kein gültiges JSON";
    QTest::newRow("top level list") << QByteArray("[1, 2]") << "kein JSON-Objekt";
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

    // The window shows that one message and changes nothing.
    ScriptedDialogs dialogs;
    const auto form = windowWithChoices(dialogs, writeTempFile(QStringLiteral("V1.xml"), LogDefinition));
    const QString before = windowState(*form);
    dialogs.messages.clear();
    QVERIFY(!form->loadProfile(path));
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text, error);
    QCOMPARE(dialogs.messages[0].icon, UserDialogs::Icon::Error);
    QCOMPARE(windowState(*form), before);
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

void TestProfile::windowRoundTripSendsTheSameFrames()
{
    const QString logDefinition = writeTempFile(QStringLiteral("V3.xml"), LogDefinition);
    const QString path = QDir::temp().filePath(QStringLiteral("car-%1.morvandell.json").arg(getpid()));
    QList<QByteArray> sent[2];
    for (int run = 0; run < 2; ++run) {
        ControlRig rig;
        QVERIFY(rig.connect());
        Form1& f = *rig.form;
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        rig.dialogs.fileAnswers = {logDefinition};
        f.Command1->click();
        if (run == 0) {
            pick(f.Combo4, 1);
            pick(f.Combo1, 0);
            pick(f.Combo2, 3);
            pick(f.Combo6, 2); // slot 5
            pick(f.Combo9, 0); // slot 8, the same channel as slot 1
            pick(f.Combo10, 2);
            f.Text16->setText(QStringLiteral("Akku"));
            f.Text9->setText(QStringLiteral("U"));
            pick(f.Combo4, -1); // picked without an entry: number and divider 0, kept as picked
            rig.dialogs.fileAnswers = {path};
            QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier);
            QVERIFY(rig.dialogs.fileAnswers.isEmpty());
            QCOMPARE(rig.dialogs.fileRequests.last().title, QStringLiteral("Profil speichern"));
        } else {
            pick(f.Combo3, 1); // to be forgotten: the profile leaves slot 3 out
            rig.dialogs.fileAnswers = {path};
            QTest::keyClick(&f, Qt::Key_O, Qt::ControlModifier);
            QVERIFY(rig.dialogs.fileAnswers.isEmpty());
            QCOMPARE(rig.dialogs.fileRequests.last().title, QStringLiteral("Profil laden"));
            QCOMPARE(f.List1->item(0)->text(), QFileInfo(path).fileName().prepend("Profil geladen: "));
        }
        QCOMPARE(rig.dialogs.fileRequests.last().filter,
                 QStringLiteral("Morvandell-Profile (*.morvandell.json)"));
        QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        f.Command2->click();
        sent[run] = rig.display().receivedFrames();
        QCOMPARE(sent[run].size(), 10);
    }
    const auto saved = Profile::load(path);
    QFile::remove(path);
    QVERIFY(saved);
    QCOMPARE(saved->logDefinition, logDefinition);
    for (int k : {3, 6, 7})
        QVERIFY(!Profile::slot(*saved, k));
    QCOMPARE(Profile::slot(*saved, 5)->channel, QStringLiteral("Batt"));
    QCOMPARE(sent[1], sent[0]);
    QCOMPARE(sent[1][5].toHex(' '),
             (hex("55 01 00 50") + "Akku    " + hex("00 07 64") + "V  " + hex("00 00 00 0D")).toHex(' '));
    QCOMPARE(sent[1][9].toHex(' '),
             hex("55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D").toHex(' '));
}

void TestProfile::loadingMatchesChannelsByName_data()
{
    QTest::addColumn<QByteArray>("newFile"); // the log-definition file at load time; empty: gone
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rpmNumber");
    QTest::addColumn<int>("mapDivider");
    QTest::addColumn<int>("mapListIndex");

    QByteArray moved = LogDefinition;
    moved.replace("channel=\"12\"", "channel=\"14\"")
        .replace("divider=\"1\"/>\r\n</", "divider=\"5\"/>\r\n</");
    QTest::newRow("channels moved") << moved
                                    << "Slot 1 \"RPM\": Kanalnummer 12 → 14, Teiler 1 → 1\n"
                                       "Slot 2 \"MAP\": Kanalnummer 200 → 200, Teiler 1 → 5"
                                    << 14 << 5 << 3;
    QTest::newRow("channel removed") << QByteArray(LogDefinition).replace("MAP", "MAP2")
                                     << "fehlen in %1. Nicht zugeordnet, verwendet werden die Werte des "
                                        "Profils:\nSlot 2 \"MAP\""
                                     << 12 << 1 << -1;
    QTest::newRow("file gone") << QByteArray()
                               << "%1 gibt es nicht. Nicht zugeordnet, verwendet werden die Werte des "
                                  "Profils:\nSlot 1 \"RPM\"\nSlot 2 \"MAP\""
                               << 12 << 1 << -1;
}

void TestProfile::loadingMatchesChannelsByName()
{
    QFETCH(QByteArray, newFile);
    QFETCH(QString, message);
    QFETCH(int, rpmNumber);
    QFETCH(int, mapDivider);
    QFETCH(int, mapListIndex);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QString logDefinition = writeTempFile(name + QStringLiteral(".xml"), LogDefinition);
    const QString path = writeTempFile(name + QStringLiteral(".morvandell.json"), {});
    ScriptedDialogs dialogs;
    QVERIFY(windowWithChoices(dialogs, logDefinition)->saveProfile(path));
    if (newFile.isEmpty())
        QFile::remove(logDefinition);
    else
        writeTempFile(name + QStringLiteral(".xml"), newFile);

    Form1 f(directoryOf({}), &dialogs);
    dialogs.messages.clear();
    QVERIFY(f.loadProfile(path));
    QCOMPARE(dialogs.messages.size(), 1);
    const QString expected = message.contains(QLatin1String("%1")) ? message.arg(logDefinition) : message;
    QVERIFY2(dialogs.messages[0].text.contains(expected), qPrintable(dialogs.messages[0].text));
    QCOMPARE(f.slotChannel[1], rpmNumber);
    QCOMPARE(f.slotChannel[2], 200);
    QCOMPARE(f.slotDivider[2], mapDivider);
    QCOMPARE(f.Combo2->listIndex(), mapListIndex);
    QCOMPARE(f.Combo2->text(), QStringLiteral("MAP"));
    QCOMPARE(f.Text2->text(), QStringLiteral("Ladedr")); // the boxes come from the profile
    QCOMPARE(f.Text6->text(), QStringLiteral("kPa"));
    QCOMPARE(f.Combo1->count(), newFile.isEmpty() ? 0 : 4);
    // Saved again, the profile keeps its file and channel names.
    QCOMPARE(Profile::slot(f.profileConfiguration(), 2)->channel, QStringLiteral("MAP"));
    QCOMPARE(f.profileConfiguration().logDefinition, logDefinition);
}

void TestProfile::contextMenuOffersTheProfileCommands()
{
    ScriptedDialogs dialogs;
    Form1 f(directoryOf({}), &dialogs);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    // A right click on a group box's free area reaches the window.
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), f.Frame4->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(f.Frame4, &event);
    auto* menu = f.findChild<QMenu*>();
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(menu->actions().size(), 2);
    QCOMPARE(menu->actions()[0]->text(), QStringLiteral("Profil speichern…"));
    QCOMPARE(menu->actions()[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(menu->actions()[1]->text(), QStringLiteral("Profil laden…"));
    QCOMPARE(menu->actions()[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    menu->actions()[0]->trigger(); // Cancel in the dialog: nothing happens
    QCOMPARE(dialogs.fileRequests.size(), 1);
    QVERIFY(dialogs.messages.isEmpty());
    menu->close();
}

QTEST_MAIN(TestProfile)
#include "tst_profile.moc"
