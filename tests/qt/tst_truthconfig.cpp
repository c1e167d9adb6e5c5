// What the control window sends is what it keeps and what the command line sends: a profile saved and
// loaded again sends the same nine frames, the window and morvandell-cli send the same frames for the
// same log-definition file and picks, a Cancel keeps the loaded profile's file, and the port list waits
// with the sending buttons.
#include "testsupport.h"

#include "cli/clitool.h"
#include "cli/invocation.h"
#include "unix/polleventloop.h"
#include "writer/profile.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace morvandell;
using namespace morvandell::test;

namespace {

// Indices: <channels> 1, RPM 2 (list position 0), Oil_P 3 (1), Dup 4 (2), Dup 5 (3), MAP 6 (4).
const QByteArray FileA = "<channels>\r\n"
                         "<channel name=\"RPM\" channel=\"12\" unit=\"rpm\" divider=\"1\"/>\r\n"
                         "<channel name=\"Oil_P\" channel=\"13\" unit=\"bar\" divider=\"10\"/>\r\n"
                         "<channel name=\"Dup\" channel=\"20\" unit=\"a\" divider=\"2\"/>\r\n"
                         "<channel name=\"Dup\" channel=\"21\" unit=\"b\" divider=\"3\"/>\r\n"
                         "<channel name=\"MAP\" channel=\"200\" unit=\"kPa\" divider=\"1\"/>\r\n"
                         "</channels>\r\n";

// The log-definition files of the tests by name; a name not listed here is a file that does not exist.
QByteArray fileNamed(const QString& name)
{
    QByteArray f = FileA;
    if (name == QLatin1String("A") || name == QLatin1String("P"))
        return f;
    if (name == QLatin1String("A without MAP"))
        return f.replace("MAP", "Boost");
    if (name == QLatin1String("RPM moved")) // the next firmware's file: RPM on another channel
        return f.replace("channel=\"12\" unit=\"rpm\" divider=\"1\"", "channel=\"14\" unit=\"rpm\" divider=\"5\"");
    if (name == QLatin1String("no units or dividers"))
        return QString::fromLatin1(f)
            .remove(QRegularExpression(QStringLiteral(" (unit|divider)=\"[^\"]*\"")))
            .toLatin1();
    return {};
}

// The file NAME of a row, in a folder that lives as long as the test.
QString pathOf(const QString& tag, const QString& name)
{
    static QTemporaryDir folder;
    return folder.filePath(QString(tag + QLatin1Char('-') + name).replace(' ', '_'));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The frames of "Daten schreiben", after whatever was sent before.
QList<QByteArray> writeFrames(ControlRig& rig)
{
    const std::size_t before = rig.display().receivedFrames().size();
    control<QPushButton>(*rig.form, "Command2")->click();
    const std::vector<Bytes> all = rig.display().receivedFrames();
    return qframes(std::vector<Bytes>(all.begin() + std::ptrdiff_t(std::min(before, all.size())), all.end()));
}

// The frames morvandell-cli configure sends to a display of its own for these arguments (after its
// connect frame); empty, with a warning, when it fails.
QList<QByteArray> cliFrames(const QStringList& arguments)
{
    sim::SimulatorThread display(sim::SimulatorConfig{});
    std::string error;
    if (!display.start(&error))
        qFatal("simulator did not start: %s", error.c_str());
    std::vector<std::string> args{"configure", "--port", "3"};
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    const auto invocation = Invocation::parse(args, &error);
    if (!invocation) {
        qWarning("%s", error.c_str());
        return {};
    }
    PollEventLoop loop;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int status = -1;
    {
        CliTool tool(loop, directoryOf(QMap<int, QString>{{3, QString::fromStdString(display.devicePath())}}), out,
                     err);
        status = tool.run(*invocation);
    }
    if (status != 0) {
        std::rewind(err);
        char line[1024] = {};
        while (std::fgets(line, sizeof line, err))
            qWarning("morvandell-cli: %s", line);
    }
    std::fclose(out);
    std::fclose(err);
    if (status != 0)
        return {};
    QList<QByteArray> frames = qframes(display.display().receivedFrames());
    if (!frames.isEmpty())
        frames.removeFirst(); // the connect frame
    return frames;
}

// Runs the steps of a row on the window, separated by "|":
//   read:NAME       Command1, the file NAME chosen    cancel       Command1, Cancel
//   pick:LIST:P     the entry at P picked (-1: none)  list:LIST:T  T typed into the list's edit field
//   box:TEXTn:T     T typed into a name or unit box   view:P       the default view at P (-1: none)
void act(ControlRig& rig, const QString& tag, const QString& steps)
{
    Form1& f = *rig.form;
    for (const QString& step : steps.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QStringList part = step.split(QLatin1Char(':'));
        const QByteArray target = part.value(1).toLatin1();
        if (part[0] == QLatin1String("read")) {
            rig.dialogs.fileAnswers = {pathOf(tag, part[1])};
            control<QPushButton>(f, "Command1")->click();
        } else if (part[0] == QLatin1String("cancel")) {
            rig.dialogs.fileAnswers = {};
            control<QPushButton>(f, "Command1")->click();
        } else if (part[0] == QLatin1String("pick")) {
            pick(combo(f, target.constData()), part[2].toInt());
        } else if (part[0] == QLatin1String("list")) {
            combo(f, target.constData())->setText(part[2]);
        } else if (part[0] == QLatin1String("box")) {
            control<QLineEdit>(f, target.constData())->setText(part[2]);
        } else if (part[0] == QLatin1String("view")) {
            pick(combo(f, "Combo10"), part[1].toInt());
        } else {
            qFatal("unknown step %s", qPrintable(step));
        }
    }
}

// Writes the row's log-definition files: every "NAME" of its steps as fileNamed(NAME) gives it.
void writeFiles(const QString& tag, const QString& steps)
{
    for (const QString& step : steps.split(QLatin1Char('|'))) {
        const QStringList part = step.split(QLatin1Char(':'));
        if (part[0] == QLatin1String("read") && !fileNamed(part[1]).isEmpty())
            writeFile(pathOf(tag, part[1]), fileNamed(part[1]));
    }
}

} // namespace

class TestTruthConfig : public QObject
{
    Q_OBJECT
private slots:
    void aSavedProfileSendsWhatTheWindowSent_data();
    void aSavedProfileSendsWhatTheWindowSent();
    void windowAndCommandLineSendTheSameFrames_data();
    void windowAndCommandLineSendTheSameFrames();
    void command1KeepsTheProfilesFileUntilItReadsAnother_data();
    void command1KeepsTheProfilesFileUntilItReadsAnother();
    void thePortListWaitsWithTheSendingButtons();
};

void TestTruthConfig::aSavedProfileSendsWhatTheWindowSent_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("fileAfterSave"); // the file A as it is when the profile is loaded

    QTest::newRow("nothing chosen") << "read:A" << "A";
    QTest::newRow("name typed without a pick") << "read:A|box:Text1:Drehz" << "A";
    QTest::newRow("unit typed alone, page 2") << "read:A|box:Text12:V" << "A";
    QTest::newRow("typed before any file") << "box:Text4:Frei|box:Text8:%" << "A";
    QTest::newRow("pick, then the name edited") << "read:A|pick:Combo2:1|box:Text2:Oel" << "A";
    QTest::newRow("pick, then the list's text typed over") << "read:A|pick:Combo3:0|list:Combo3:Anders" << "A";
    QTest::newRow("page 2") << "read:A|pick:Combo6:1|pick:Combo7:4|pick:Combo8:0|pick:Combo9:1|box:Text13:Acht|"
                               "box:Text10:x"
                            << "A";
    QTest::newRow("no default view") << "read:A|pick:Combo1:0|view:-1" << "A";
    QTest::newRow("default view 3") << "read:A|view:2" << "A";
    QTest::newRow("pick without an entry") << "read:A|pick:Combo4:-1" << "A";
    QTest::newRow("the second of two entries of one name") << "read:A|pick:Combo2:3" << "A";
    QTest::newRow("a pick from an earlier file") << "read:A|pick:Combo1:0|read:RPM moved" << "A";
    QTest::newRow("a channel the file no longer has") << "read:A|pick:Combo1:4|pick:Combo2:0" << "A without MAP";
    QTest::newRow("characters the code page lacks") << "read:A|box:Text1:Łódź" << "A";
}

void TestTruthConfig::aSavedProfileSendsWhatTheWindowSent()
{
    QFETCH(QString, steps);
    QFETCH(QString, fileAfterSave);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    writeFiles(tag, steps);
    const QString profile = pathOf(tag, QStringLiteral("profile.morvandell.json"));

    QList<QByteArray> sent;
    {
        ControlRig rig;
        QVERIFY(rig.connect());
        act(rig, tag, steps);
        sent = writeFrames(rig);
        QVERIFY(rig.form->saveProfile(profile.toStdString()));
    }
    QCOMPARE(sent.size(), 9);
    writeFile(pathOf(tag, QStringLiteral("A")), fileNamed(fileAfterSave));

    ControlRig again;
    QVERIFY(again.connect());
    QVERIFY(again.form->loadProfile(profile.toStdString()));
    const QList<QByteArray> loaded = writeFrames(again);
    for (int i = 0; i < sent.size(); ++i)
        QCOMPARE(loaded.value(i).toHex(' '), sent[i].toHex(' '));
    QCOMPARE(cliFrames({QStringLiteral("--profile"), profile}), sent);
}

void TestTruthConfig::windowAndCommandLineSendTheSameFrames_data()
{
    QTest::addColumn<QByteArray>("file"); // read after FileA
    // Slot N takes the first entry of the name, as --slot N=NAME does.
    QTest::addColumn<QStringList>("picks");

    const QStringList all{"1=RPM", "2=Oil_P", "3=Dup", "4=MAP", "5=MAP", "6=Dup", "7=Oil_P", "8=RPM"};
    QTest::newRow("the same file") << FileA << all;
    QTest::newRow("no units or dividers") << fileNamed(QStringLiteral("no units or dividers")) << all;
    QTest::newRow("shorter, with comment lines")
        << QByteArray("<!-- channel list -->\r\n<channels>\r\n<channel name=\"MAP\" channel=\"7\"/>\r\n"
                      "<!-- channel: the next has no divider -->\r\n<channel name=\"RPM\" channel=\"9\" unit=\"U\"/>\r\n")
        << QStringList{"1=RPM", "4=MAP", "8=RPM"};
    QTest::newRow("names only") << QByteArray("<channel name=\"Oil_P\" />\n<channel name=\"Dup\" />\n")
                                << QStringList{"2=Oil_P", "3=Dup", "6=Dup"};
}

void TestTruthConfig::windowAndCommandLineSendTheSameFrames()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, picks);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    const QString first = pathOf(tag, QStringLiteral("first"));
    const QString second = pathOf(tag, QStringLiteral("second"));
    writeFile(first, FileA);
    writeFile(second, file);

    ControlRig rig;
    QVERIFY(rig.connect());
    Form1& f = *rig.form;
    for (const QString& path : {first, second}) {
        rig.dialogs.fileAnswers = {path};
        control<QPushButton>(f, "Command1")->click();
    }
    QStringList arguments{QStringLiteral("--logdef"), second};
    for (const QString& slotPick : picks) {
        const int slot = slotPick.section(QLatin1Char('='), 0, 0).toInt();
        const QString name = slotPick.section(QLatin1Char('='), 1);
        ComboBox* list = combo(f, Form1::slotRows()[std::size_t(slot)].list);
        QVERIFY2(list->findText(name) >= 0, qPrintable(slotPick));
        pick(list, list->findText(name));
        arguments << QStringLiteral("--slot") << slotPick;
    }
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    const QList<QByteArray> window = writeFrames(rig);
    const QList<QByteArray> commandLine = cliFrames(arguments);
    QCOMPARE(window.size(), 9);
    for (int i = 0; i < window.size(); ++i)
        QCOMPARE(window[i].toHex(' '), commandLine.value(i).toHex(' '));
}

void TestTruthConfig::command1KeepsTheProfilesFileUntilItReadsAnother_data()
{
    // profile:NAME loads a profile that names the file NAME (written unless it is "gone"); read:NAME and
    // cancel are Command1's.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("named"); // the file a profile saved now names

    QTest::newRow("Cancel") << "profile:P|cancel" << "P";
    QTest::newRow("Cancel after an earlier file") << "read:A|profile:P|cancel" << "P";
    QTest::newRow("Cancel, the profile's file gone") << "read:A|profile:gone|cancel" << "gone";
    QTest::newRow("a file that does not exist") << "profile:P|read:missing" << "P";
    QTest::newRow("another file read") << "profile:P|read:A" << "A";
}

void TestTruthConfig::command1KeepsTheProfilesFileUntilItReadsAnother()
{
    QFETCH(QString, steps);
    QFETCH(QString, named);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    writeFiles(tag, QStringLiteral("read:A|read:P"));
    Windows w;
    const auto f = w.makeForm(directoryOf(QMap<int, QString>{}));
    for (const QString& step : steps.split(QLatin1Char('|'))) {
        const QString name = step.section(QLatin1Char(':'), 1);
        if (step.startsWith(QLatin1String("profile:"))) {
            DisplayConfiguration profile;
            profile.logDefinition = pathOf(tag, name).toStdString();
            Profile::slot(profile, 1) = SlotSetting{"RPM", 12, 1, "Drehz", "rpm"};
            const QString path = pathOf(tag, QStringLiteral("profile.morvandell.json"));
            writeFile(path, QByteArray::fromStdString(Profile::toJson(profile)));
            QVERIFY(f->loadProfile(path.toStdString()));
            continue;
        }
        w.dialogs.fileAnswers = {};
        if (!name.isEmpty())
            w.dialogs.fileAnswers = {pathOf(tag, name)};
        control<QPushButton>(*f, "Command1")->click();
    }
    QCOMPARE(QString::fromStdString(f->profileConfiguration().logDefinition), pathOf(tag, named));
}

void TestTruthConfig::thePortListWaitsWithTheSendingButtons()
{
    sim::SimulatorConfig config;
    config.answerDelayMs = 600;
    ControlRig rig(config);
    QVERIFY(rig.connect());
    Form1& f = *rig.form;
    bool disabledDuringWait = false;
    QTimer::singleShot(300, [&] {
        disabledDuringWait = !combo(f, "Combo5")->isEnabled() && !control(f, "Command6")->isEnabled();
    });
    control<QPushButton>(f, "Command6")->click();
    QVERIFY(disabledDuringWait);
    QVERIFY(combo(f, "Combo5")->isEnabled());
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
}

QTEST_MAIN(TestTruthConfig)
#include "tst_truthconfig.moc"
