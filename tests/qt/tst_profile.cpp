// Profiles through the control window: a refused profile changes nothing on the window, a saved and
// loaded profile sends the same frames, channels are matched by name, the context menu. The profile
// reader and writer themselves are tested in tests/core/profile_test.cpp.
#include "testsupport.h"
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
#include <QTest>

#include <unistd.h>

using namespace morvandell;
using namespace morvandell::test;

namespace {

const QByteArray ValidProfile =
    R"({"format": "morvandell-profile", "version": 1, "logDefinition": "/ecu/V3.xml",
 "defaultView": 2, "slots": [
  {"slot": 1, "channel": "RPM", "number": 12, "divider": 1, "name": "Drehz", "unit": "rpm"},
  {"slot": 5, "channel": "Batt", "number": 7, "divider": 100, "name": "Akku", "unit": "V"}]})";

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
QString windowState(Form1& f)
{
    QStringList parts;
    for (int k = 1; k <= 8; ++k) {
        const auto& row = Form1::slotRows()[std::size_t(k)];
        parts << QStringLiteral("%1:%2/%3/%4/%5/%6/%7/%8")
                     .arg(k)
                     .arg(combo(f, row.list)->count())
                     .arg(combo(f, row.list)->listIndex())
                     .arg(combo(f, row.list)->text(), text(f.view(), row.name), text(f.view(), row.unit))
                     .arg(f.slotChannel[std::size_t(k)])
                     .arg(f.slotDivider[std::size_t(k)]);
    }
    parts << combo(f, "Combo10")->text() << QString::number(combo(f, "Combo10")->listIndex())
          << QString::number(control<QListWidget>(f, "List1")->count()) << caption(f.view())
          << QString::fromStdString(Profile::toJson(f.profileConfiguration()));
    return parts.join(QLatin1Char('|'));
}

// A window without a port that has read the log-definition file and has slots 1 and 2 picked.
std::unique_ptr<Form1> windowWithChoices(Windows& w, const QString& logDefinition)
{
    auto f = w.makeForm(directoryOf(QMap<int, QString>{}));
    w.dialogs.fileAnswers = {logDefinition};
    control<QPushButton>(*f, "Command1")->click();
    pick(combo(*f, "Combo1"), 0);
    pick(combo(*f, "Combo2"), 3);
    control<QLineEdit>(*f, "Text2")->setText(QStringLiteral("Ladedr"));
    return f;
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT
private slots:
    void refusesABadProfile_data();
    void refusesABadProfile();
    void windowRoundTripSendsTheSameFrames();
    void loadingMatchesChannelsByName_data();
    void loadingMatchesChannelsByName();
    void contextMenuOffersTheProfileCommands();
    void aProfileGivenAtStartIsLoadedAndNothingIsSent_data();
    void aProfileGivenAtStartIsLoadedAndNothingIsSent();
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
    std::string reason;
    QVERIFY(!Profile::load(path.toStdString(), &reason));
    const QString error = QString::fromStdString(reason);
    QVERIFY2(error.contains(message) && error.contains(path), qPrintable(error));

    // The window shows that one message and changes nothing.
    Windows w;
    ScriptedDialogs& dialogs = w.dialogs;
    const auto form = windowWithChoices(w, writeTempFile(QStringLiteral("V1.xml"), LogDefinition));
    const QString before = windowState(*form);
    dialogs.messages.clear();
    QVERIFY(!form->loadProfile(path.toStdString()));
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text, error);
    QCOMPARE(dialogs.messages[0].icon, Icon::Error);
    QCOMPARE(windowState(*form), before);
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
        QWidget* window = windowOf(f.view());
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        rig.dialogs.fileAnswers = {logDefinition};
        control<QPushButton>(f, "Command1")->click();
        if (run == 0) {
            pick(combo(f, "Combo4"), 1);
            pick(combo(f, "Combo1"), 0);
            pick(combo(f, "Combo2"), 3);
            pick(combo(f, "Combo6"), 2); // slot 5
            pick(combo(f, "Combo9"), 0); // slot 8, the same channel as slot 1
            pick(combo(f, "Combo10"), 2);
            control<QLineEdit>(f, "Text16")->setText(QStringLiteral("Akku"));
            control<QLineEdit>(f, "Text9")->setText(QStringLiteral("U"));
            pick(combo(f, "Combo4"), -1); // picked without an entry: number and divider 0, kept as picked
            rig.dialogs.fileAnswers = {path};
            QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
            QVERIFY(rig.dialogs.fileAnswers.isEmpty());
            QCOMPARE(rig.dialogs.fileRequests.last().title, QStringLiteral("Profil speichern"));
        } else {
            pick(combo(f, "Combo3"), 1); // to be forgotten: the profile leaves slot 3 out
            rig.dialogs.fileAnswers = {path};
            QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
            QVERIFY(rig.dialogs.fileAnswers.isEmpty());
            QCOMPARE(rig.dialogs.fileRequests.last().title, QStringLiteral("Profil laden"));
            QCOMPARE(control<QListWidget>(f, "List1")->item(0)->text(),
                     QFileInfo(path).fileName().prepend("Profil geladen: "));
        }
        QCOMPARE(rig.dialogs.fileRequests.last().filter,
                 QStringLiteral("Morvandell-Profile (*.morvandell.json)"));
        QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        control<QPushButton>(f, "Command2")->click();
        sent[run] = qframes(rig.display().receivedFrames());
        QCOMPARE(sent[run].size(), 10);
    }
    const auto saved = Profile::load(path.toStdString());
    QFile::remove(path);
    QVERIFY(saved);
    QCOMPARE(QString::fromStdString(saved->logDefinition), logDefinition);
    for (int k : {3, 6, 7})
        QVERIFY(!Profile::slot(*saved, k));
    QCOMPARE(QString::fromStdString(Profile::slot(*saved, 5)->channel), QStringLiteral("Batt"));
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
    Windows w;
    ScriptedDialogs& dialogs = w.dialogs;
    QVERIFY(windowWithChoices(w, logDefinition)->saveProfile(path.toStdString()));
    if (newFile.isEmpty())
        QFile::remove(logDefinition);
    else
        writeTempFile(name + QStringLiteral(".xml"), newFile);

    const auto made = w.makeForm(directoryOf(QMap<int, QString>{}));
    Form1& f = *made;
    dialogs.messages.clear();
    QVERIFY(f.loadProfile(path.toStdString()));
    QCOMPARE(dialogs.messages.size(), 1);
    const QString expected = message.contains(QLatin1String("%1")) ? message.arg(logDefinition) : message;
    QVERIFY2(dialogs.messages[0].text.contains(expected), qPrintable(dialogs.messages[0].text));
    QCOMPARE(f.slotChannel[1], rpmNumber);
    QCOMPARE(f.slotChannel[2], 200);
    QCOMPARE(f.slotDivider[2], mapDivider);
    QCOMPARE(combo(f, "Combo2")->listIndex(), mapListIndex);
    QCOMPARE(combo(f, "Combo2")->text(), QStringLiteral("MAP"));
    QCOMPARE(text(f.view(), "Text2"), QStringLiteral("Ladedr")); // the boxes come from the profile
    QCOMPARE(text(f.view(), "Text6"), QStringLiteral("kPa"));
    QCOMPARE(combo(f, "Combo1")->count(), newFile.isEmpty() ? 0 : 4);
    // Saved again, the profile keeps its file and channel names.
    QCOMPARE(QString::fromStdString(Profile::slot(f.profileConfiguration(), 2)->channel), QStringLiteral("MAP"));
    QCOMPARE(QString::fromStdString(f.profileConfiguration().logDefinition), logDefinition);
}

void TestProfile::contextMenuOffersTheProfileCommands()
{
    Windows w;
    ScriptedDialogs& dialogs = w.dialogs;
    const auto made = w.makeForm(directoryOf(QMap<int, QString>{}));
    QWidget* window = windowOf(made->view());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // A right click on a group box's free area reaches the window.
    QWidget* frame = control(*made, "Frame4");
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), frame->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(frame, &event);
    auto* menu = window->findChild<QMenu*>();
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(menu->actions().size(), 3);
    QCOMPARE(menu->actions()[0]->text(), QStringLiteral("Profil speichern…"));
    QCOMPARE(menu->actions()[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(menu->actions()[1]->text(), QStringLiteral("Profil laden…"));
    QCOMPARE(menu->actions()[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    // The user guide (tst_program opens it).
    QCOMPARE(menu->actions()[2]->text(), QStringLiteral("Hilfe"));
    QCOMPARE(menu->actions()[2]->shortcut(), QKeySequence(QStringLiteral("F1")));
    menu->actions()[0]->trigger(); // Cancel in the dialog: nothing happens
    QCOMPARE(dialogs.fileRequests.size(), 1);
    QVERIFY(dialogs.messages.isEmpty());
    menu->close();
}

void TestProfile::aProfileGivenAtStartIsLoadedAndNothingIsSent_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message"); // part of the one message box
    QTest::newRow("valid, its log-definition file gone") << ValidProfile << "/ecu/V3.xml gibt es nicht";
    QTest::newRow("refused") << replaced("\"version\": 1", "\"version\": 2") << "Version 2";
}

void TestProfile::aProfileGivenAtStartIsLoadedAndNothingIsSent()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const bool valid = bytes == ValidProfile;
    ControlRig rig;
    Form1& f = *rig.form;
    const QString path = writeTempFile(QStringLiteral("start.morvandell.json"), bytes);
    QCOMPARE(f.openProfileAtStart(path.toStdString()), valid);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QVERIFY2(rig.dialogs.messages[0].text.contains(message), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(text(f.view(), "Text1"), valid ? QStringLiteral("Drehz") : QString());
    QCOMPARE(text(f.view(), "Text16"), valid ? QStringLiteral("Akku") : QString());
    QCOMPARE(int(f.slotChannel[5]), valid ? 7 : 0);
    QCOMPARE(combo(f, "Combo10")->listIndex(), valid ? 1 : 0);
    QTest::qWait(100);
    QVERIFY(rig.display().rawReceived().empty() && !f.serialPort().isOpen());
}

QTEST_MAIN(TestProfile)
#include "tst_profile.moc"
