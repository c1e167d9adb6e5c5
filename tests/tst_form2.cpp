// The update window end to end: the control window and the update window on a real pseudo-terminal,
// the display simulator answering from its own thread.

#include "control/combobox.h"
#include "control/form1.h"
#include "serial/serialservice.h"
#include "simulator/displaysimulator.h"
#include "testsupport.h"
#include "updater/form2.h"
#include "writer/framebuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;
using morvandell::sim::SimulatorThread;

namespace {

constexpr int ImageBytes = 130048;

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    QRandomGenerator random(seed);
    for (char& c : out)
        c = char(random.bounded(256));
    return out;
}

QByteArray padded(const QByteArray& file)
{
    return file.left(ImageBytes) + QByteArray(qMax(0, ImageBytes - int(file.size())), char(0xFF));
}

// Whether this process holds a descriptor on the file.
bool processHoldsOpen(const QString& path)
{
    const QString target = QFileInfo(path).absoluteFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString link = QFileInfo(fds.filePath(fd)).symLinkTarget();
        if (link == target || link == target + QLatin1String(" (deleted)"))
            return true;
    }
    return false;
}

// The control window and the simulator at port 3 (and optionally port 14).
struct Rig
{
    explicit Rig(SimulatorConfig config = {}, bool alsoAt14 = false)
        : sim(config)
    {
        if (!sim.start())
            qFatal("simulator did not start");
        QMap<int, QString> ports{{3, sim.devicePath()}};
        if (alsoAt14)
            ports.insert(14, sim.devicePath());
        form1 = std::make_unique<Form1>(directoryOf(ports), &dialogs);
    }
    // Connect in the control window, as a user does before opening the update window.
    bool connect()
    {
        const int index = form1->Combo5->findText(QStringLiteral("Com #3"));
        if (index < 0)
            return false;
        form1->Combo5->setCurrentIndex(index);
        emit form1->Combo5->activated(index);
        form1->Command3->click();
        return waitUntil([&] { return form1->deviceFound == 1; }, 3000);
    }
    Form2* open()
    {
        form1->Command4_Click();
        return form1->updateWindow();
    }
    // Opens the update window at the prompt's port 3 (9600 baud) and loads a file.
    Form2* openAndLoad(const QString& path)
    {
        dialogs.promptAnswers << QStringLiteral("3");
        Form2* form = open();
        dialogs.fileAnswers << path;
        form->Command1->click();
        return form;
    }
    sim::DisplaySimulator& display() { return *sim.simulator(); }

    ScriptedDialogs dialogs;
    SimulatorThread sim;
    std::unique_ptr<Form1> form1;
};

// Enabled state of Load File, Update - Normal, Port Open, Update - Recovery.
QString buttonStates(const Form2* f)
{
    QString s;
    for (const QPushButton* b : {f->Command1, f->Command2, f->Command4, f->Command5})
        s += b->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT
private slots:
    void theControlsStartAsOnTheWindow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Load File") << "Command1" << QRect(8, 8, 121, 25) << "Load File" << true;
        QTest::newRow("Close") << "Command3" << QRect(136, 8, 121, 25) << "Close" << true;
        QTest::newRow("Port Open") << "Command4" << QRect(288, 8, 121, 25) << "Port Open" << true;
        QTest::newRow("Update - Normal") << "Command2" << QRect(8, 40, 121, 25) << "Update - Normal" << false;
        QTest::newRow("Update - Recovery")
            << "Command5" << QRect(136, 40, 121, 25) << "Update - Recovery" << false;
        QTest::newRow("status") << "Label1" << QRect(8, 72, 121, 17) << "Status" << true;
        QTest::newRow("progress") << "ProgressBar1" << QRect(8, 96, 249, 25) << QString() << true;
    }
    void theControlsStartAsOnTheWindow()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        Rig rig;
        Form2* f = rig.open(); // prompt cancelled: Load File disabled, the rest as created
        auto* w = f->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            QCOMPARE(button->text(), caption);
            QCOMPARE(button->isEnabled(), name == QLatin1String("Command1") ? false : enabled);
            // Fully readable at the window's font.
            QVERIFY(button->fontMetrics().horizontalAdvance(caption) + 8 <= geometry.width());
            QCOMPARE(button->font().pointSizeF(), 8.25);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            QCOMPARE(label->text(), caption);
            for (const char* status : {"Warte....", "Bereit.", "Übertragen.", "Fertig."})
                QVERIFY(label->fontMetrics().horizontalAdvance(QString::fromUtf8(status)) <=
                        geometry.width());
        } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 130050);
            QCOMPARE(bar->value(), 0);
            const QString longest = QStringLiteral("100 % · Block 1016/1016 · noch 10:00");
            QVERIFY(bar->fontMetrics().horizontalAdvance(longest) + 8 <= geometry.width());
        }
    }

    void theWindowIsATopLevelWindowOfItsDescribedSize()
    {
        Rig rig;
        Form2* f = rig.open();
        QVERIFY(f->isWindow());
        QVERIFY(f->isVisible());
        QVERIFY(!f->isModal());
        QCOMPARE(f->size(), QSize(264, 127));
        QCOMPARE(f->windowTitle(), QStringLiteral("Firmwareupdate"));
        QCOMPARE(f->Timer1->objectName(), QStringLiteral("Timer1"));
        QCOMPARE(f->Timer1->interval(), 5000);
        QVERIFY(!f->Timer1->isActive());
        // Tab order: Command1, Command2, Command3, Command4, Command5, Label1, ProgressBar1.
        const QList<QWidget*> expected{f->Command1, f->Command2, f->Command3,    f->Command4,
                                       f->Command5, f->Label1,   f->ProgressBar1};
        QList<QWidget*> chain;
        QWidget* w = f->Command1;
        do {
            if (expected.contains(w))
                chain << w;
            w = w->nextInFocusChain();
        } while (w != f->Command1);
        QCOMPARE(chain, expected);
    }

    void startUpTakesOverThePortOrAsksForOne_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QStringList>("answers"); // prompt answers; "<cancel>" for Cancel
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("loadFile"); // Load File enabled
        QTest::addColumn<QString>("message");
        QTest::newRow("control window connected to 3")
            << true << QStringList() << "Firmwareupdate Com:3" << true << 19200 << true << QString();
        QTest::newRow("prompt answered 3")
            << false << QStringList{"3"} << "Firmwareupdate Com:3" << true << 9600 << true << QString();
        QTest::newRow("prompt answered with blanks")
            << false << QStringList{" 3 "} << "Firmwareupdate Com:3" << true << 9600 << true << QString();
        QTest::newRow("prompt cancelled")
            << false << QStringList{"<cancel>"} << "Firmwareupdate" << false << 0 << false << QString();
        QTest::newRow("prompt empty")
            << false << QStringList{""} << "Firmwareupdate" << false << 0 << false << QString();
        QTest::newRow("prompt not a number") << false << QStringList{"drei"} << "Firmwareupdate" << false << 0
                                             << true << "„drei“ ist keine Portnummer";
        QTest::newRow("prompt 0") << false << QStringList{"0"} << "Firmwareupdate" << false << 0 << true
                                  << "keine Portnummer";
        QTest::newRow("prompt 17") << false << QStringList{"17"} << "Firmwareupdate" << false << 0 << true
                                   << "keine Portnummer";
        QTest::newRow("prompt 2.5") << false << QStringList{"2.5"} << "Firmwareupdate" << false << 0 << true
                                    << "keine Portnummer";
        QTest::newRow("prompt names a port without device")
            << false << QStringList{"5"} << "Firmwareupdate Com:5" << false << 0 << true << "Com #5";
    }
    void startUpTakesOverThePortOrAsksForOne()
    {
        QFETCH(bool, connected);
        QFETCH(QStringList, answers);
        QFETCH(QString, caption);
        QFETCH(bool, open);
        QFETCH(int, baud);
        QFETCH(bool, loadFile);
        QFETCH(QString, message);
        Rig rig;
        if (connected) {
            QVERIFY(rig.connect());
            QVERIFY(rig.form1->serialPort().isOpen());
        }
        for (const QString& a : answers)
            rig.dialogs.promptAnswers << (a == QLatin1String("<cancel>") ? std::nullopt : std::optional(a));
        Form2* f = rig.open();
        QCOMPARE(rig.dialogs.prompts,
                 connected ? QStringList() : QStringList{QStringLiteral("Hinweis|Comport:")});
        QCOMPARE(f->windowTitle(), caption);
        QCOMPARE(f->serialPort().isOpen(), open);
        if (open)
            QCOMPARE(f->serialPort().settings().baudRate, baud);
        QCOMPARE(f->Command1->isEnabled(), loadFile);
        QVERIFY(!f->Command2->isEnabled());
        QVERIFY(!f->Command5->isEnabled());
        // The control window's port is not given back.
        QVERIFY(!rig.form1->serialPort().isOpen());
        if (message.isEmpty()) {
            QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        } else {
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Error);
            QVERIFY2(rig.dialogs.messages[0].text.contains(message), qPrintable(rig.dialogs.allMessages()));
        }
    }

    void closingAsksForARestartAndTheNextOpeningStartsAgain_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Close button") << false;
        QTest::newRow("the window's close box") << true;
    }
    void closingAsksForARestartAndTheNextOpeningStartsAgain()
    {
        QFETCH(bool, closeBox);
        Rig rig;
        QVERIFY(rig.connect());
        Form2* f = rig.open();
        rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("close.bin"), randomBytes(300, 1));
        f->Command1->click();
        QVERIFY(f->serialPort().isOpen());
        bool portClosedAtMessage = false;
        rig.dialogs.onMessage = [&](const ScriptedDialogs::Message&) {
            portClosedAtMessage = !f->serialPort().isOpen();
        };
        if (closeBox)
            QVERIFY(f->close());
        else
            f->Command3->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Hinweis"));
        QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Please restart."));
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::None);
        QVERIFY(portClosedAtMessage);
        QVERIFY(!f->isVisible());
        QVERIFY(!f->isLoaded());
        QVERIFY(!rig.form1->serialPort().isOpen());

        // Opening it again runs start-up again with the controls as created.
        rig.dialogs.onMessage = nullptr;
        QCOMPARE(rig.open(), f);
        QVERIFY(f->isLoaded());
        QVERIFY(f->serialPort().isOpen());
        QCOMPARE(f->serialPort().settings().baudRate, 19200);
        QCOMPARE(buttonStates(f), QStringLiteral("1010"));
        QVERIFY(!f->imageLength.has_value());
    }

    void portOpenOpensPort14_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("device at 14") << true;
        QTest::newRow("no device at 14") << false;
    }
    void portOpenOpensPort14()
    {
        QFETCH(bool, present);
        Rig rig({}, present);
        Form2* f = rig.open(); // prompt cancelled
        f->Command4->click();
        QCOMPARE(f->serialPort().commPort(), 14);
        QCOMPARE(f->serialPort().isOpen(), present);
        QCOMPARE(f->Command2->isEnabled(), present);
        QCOMPARE(f->Command5->isEnabled(), present);
        QCOMPARE(f->statusText(), present ? QStringLiteral("Warte....") : QStringLiteral("Status"));
        QCOMPARE(rig.dialogs.messages.size(), present ? 0 : 1);
        if (!present)
            QVERIFY2(rig.dialogs.messages[0].text.contains(QStringLiteral("Com #14")),
                     qPrintable(rig.dialogs.allMessages()));
    }

    void loadFileRecordsTheFileAndWarnsOnlyAboveTheLimit_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("warned");
        QTest::newRow("130084 bytes") << 130084 << false;
        QTest::newRow("130085 bytes") << 130085 << true;
        QTest::newRow("empty file") << 0 << false;
    }
    void loadFileRecordsTheFileAndWarnsOnlyAboveTheLimit()
    {
        QFETCH(int, size);
        QFETCH(bool, warned);
        Rig rig;
        const QString path = writeTempFile(QStringLiteral("load%1.bin").arg(size), randomBytes(size, 5));
        Form2* f = rig.openAndLoad(path);
        QCOMPARE(rig.dialogs.fileRequests.size(), 1);
        QCOMPARE(rig.dialogs.fileRequests[0].title, QStringLiteral("Open"));
        QCOMPARE(rig.dialogs.fileRequests[0].folder, QCoreApplication::applicationDirPath());
        QCOMPARE(rig.dialogs.fileRequests[0].filter, QStringLiteral("Binary Files (*.bin)"));
        QCOMPARE(f->imagePath, path);
        QCOMPARE(f->imageLength, std::optional<qint64>(size));
        QVERIFY(f->Command2->isEnabled());
        QVERIFY(f->Command5->isEnabled());
        QCOMPARE(rig.dialogs.messages.size(), warned ? 1 : 0);
        if (warned) {
            QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Error"));
            QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Datei zu groß!"));
            QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Error);
        }
    }

    void loadFileKeepsThePreviousFileWhenNothingUsableIsChosen_data()
    {
        QTest::addColumn<QString>("answer"); // "<cancel>", or a path relative to a fresh folder
        QTest::addColumn<bool>("message");
        QTest::newRow("Cancel") << "<cancel>" << false;
        QTest::newRow("a name that does not exist") << "missing.bin" << true;
        QTest::newRow("a folder") << "folder.bin" << true;
    }
    void loadFileKeepsThePreviousFileWhenNothingUsableIsChosen()
    {
        QFETCH(QString, answer);
        QFETCH(bool, message);
        Rig rig;
        const QString first = writeTempFile(QStringLiteral("first.bin"), randomBytes(700, 9));
        Form2* f = rig.openAndLoad(first);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.bin")));
        const QString chosen = dir.filePath(answer);
        rig.dialogs.fileAnswers << (answer == QLatin1String("<cancel>") ? std::nullopt
                                                                        : std::optional(chosen));
        f->Command1->click();
        QCOMPARE(f->imagePath, first);
        QCOMPARE(f->imageLength, std::optional<qint64>(700));
        QCOMPARE(rig.dialogs.messages.size(), message ? 1 : 0);
        if (message)
            QVERIFY2(rig.dialogs.messages[0].text.contains(answer), qPrintable(rig.dialogs.allMessages()));
        QVERIFY(!QFileInfo(dir.filePath(QStringLiteral("missing.bin"))).exists());
    }

    void anUpdateSendsTheWholeImageAndEndsFinished_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<bool>("coalesce");
        QTest::addColumn<int>("size");
        QTest::newRow("normal, 100 kB") << false << false << 100000;
        QTest::newRow("normal, ack and completion in one read") << false << true << 100000;
        QTest::newRow("normal, 500 bytes") << false << false << 500;
        QTest::newRow("recovery, completion alone after the last block") << true << false << 100000;
        QTest::newRow("recovery, ack and completion in one read") << true << true << 100000;
    }
    void anUpdateSendsTheWholeImageAndEndsFinished()
    {
        QFETCH(bool, recovery);
        QFETCH(bool, coalesce);
        QFETCH(int, size);
        SimulatorConfig config;
        config.recovery = recovery;
        config.coalesceFinal = coalesce;
        Rig rig(config);
        const QByteArray file = randomBytes(size, quint32(size) ^ 0x5A5A);
        const QString path = writeTempFile(QStringLiteral("image%1.bin").arg(size), file);
        Form2* f = nullptr;
        if (recovery) {
            f = rig.openAndLoad(path); // the display already waits in its update mode
        } else {
            QVERIFY(rig.connect());
            f = rig.open();
            rig.dialogs.fileAnswers << path;
            f->Command1->click();
        }
        QVERIFY(f->serialPort().isOpen());

        // While it runs, the update buttons, Load File and Port Open are off.
        QString statesDuringTransfer;
        QObject::connect(f->ProgressBar1, &QProgressBar::valueChanged, f, [&](int value) {
            if (value > 20000 && statesDuringTransfer.isEmpty())
                statesDuringTransfer = buttonStates(f);
        });
        QElapsedTimer clock;
        clock.start();
        (recovery ? f->Command5 : f->Command2)->click();
        qInfo("transfer took %lld ms", clock.elapsed());
        QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        QCOMPARE(statesDuringTransfer, QStringLiteral("0000"));
        QVERIFY(!f->isTransferring());
        QVERIFY(f->statusText().startsWith(QLatin1String("Fertig")));
        QVERIFY(f->statusIsGreen());
        QVERIFY(!processHoldsOpen(path));

        QVERIFY2(waitUntil([&] { return f->statusText() == QLatin1String("Fertig."); }, 3000),
                 qPrintable(f->statusText()));
        QVERIFY(f->statusIsGreen());
        QVERIFY(!f->serialPort().isOpen());
        QCOMPARE(rig.display().blocksReceived(), 1016);
        QCOMPARE(rig.display().receivedImage(), padded(file));
        QCOMPARE(f->ProgressBar1->value(), 130049);
        QVERIFY(f->ProgressBar1->text().contains(QStringLiteral("Block 1016/1016")));
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
        const QList<QByteArray> frames = rig.display().receivedFrames();
        if (recovery) {
            QVERIFY(frames.isEmpty());
        } else {
            QCOMPARE(frames.size(), 2);
            QCOMPARE(frames.last(), FrameBuilder::updateFrame());
        }
    }

    void aDisplayThatStopsAnsweringEndsInTimeout_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<bool>("noReady");
        QTest::addColumn<int>("lastAck");
        QTest::addColumn<int>("blocksSent");
        QTest::addColumn<int>("attempts");
        QTest::newRow("no ready byte, twice") << false << true << -1 << 0 << 2;
        QTest::newRow("normal, acknowledgements stop after block 5") << false << false << 5 << 6 << 1;
        QTest::newRow("recovery, acknowledgements stop after block 1015")
            << true << false << 1015 << 1016 << 1;
    }
    void aDisplayThatStopsAnsweringEndsInTimeout()
    {
        QFETCH(bool, recovery);
        QFETCH(bool, noReady);
        QFETCH(int, lastAck);
        QFETCH(int, blocksSent);
        QFETCH(int, attempts);
        SimulatorConfig config;
        config.recovery = recovery;
        config.noReady = noReady;
        config.stopAckAfterBlock = lastAck;
        Rig rig(config);
        Form2* f = rig.openAndLoad(writeTempFile(QStringLiteral("timeout.bin"), randomBytes(4000, 2)));
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            QElapsedTimer clock;
            clock.start();
            (recovery ? f->Command5 : f->Command2)->click();
            const qint64 ms = clock.elapsed();
            // Every attempt gets its own 5 s.
            QVERIFY2(ms >= 4900 && ms < 7000, qPrintable(QString::number(ms)));
            QCOMPARE(rig.dialogs.messages.size(), attempt);
            const auto& m = rig.dialogs.messages.last();
            QCOMPARE(m.title, QStringLiteral("Error"));
            QCOMPARE(m.icon, UserDialogs::Icon::Error);
            if (noReady)
                QCOMPARE(m.text, QStringLiteral("Timeout"));
            else
                QVERIFY2(m.text.startsWith(QLatin1String("Timeout")) &&
                             m.text.contains(QString::number(lastAck + 1)),
                         qPrintable(m.text));
            QVERIFY(!f->statusText().startsWith(QLatin1String("Fertig")));
            QVERIFY(!f->statusIsGreen());
            QVERIFY(!f->Timer1->isActive());
            QCOMPARE(buttonStates(f), QStringLiteral("1111"));
        }
        QCOMPARE(rig.display().blocksReceived(), blocksSent);
        if (noReady)
            QCOMPARE(rig.display().bytesBeforeReady(), 0);
        QTest::qWait(100);
        QVERIFY(!f->statusText().startsWith(QLatin1String("Fertig")));
    }

    void aDeviceThatVanishesMidTransferIsReportedWithTheBlocksSent_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::newRow("normal") << false;
        QTest::newRow("recovery") << true;
    }
    void aDeviceThatVanishesMidTransferIsReportedWithTheBlocksSent()
    {
        QFETCH(bool, recovery);
        SimulatorConfig config;
        config.recovery = recovery;
        config.closeAfterBlock = 7;
        Rig rig(config);
        Form2* f = rig.openAndLoad(writeTempFile(QStringLiteral("unplug.bin"), randomBytes(20000, 4)));
        QElapsedTimer clock;
        clock.start();
        (recovery ? f->Command5 : f->Command2)->click();
        QVERIFY2(clock.elapsed() < 2000, "the loss must end the transfer at once");
        QTest::qWait(50); // a second report would come now
        QCOMPARE(rig.dialogs.messages.size(), 1);
        const auto& m = rig.dialogs.messages[0];
        QCOMPARE(m.icon, UserDialogs::Icon::Error);
        QVERIFY2(m.text.contains(QStringLiteral("7 von 1016 Blöcken")), qPrintable(m.text));
        QVERIFY(!f->serialPort().isOpen());
        QVERIFY(!f->statusText().startsWith(QLatin1String("Fertig")));
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
    }

    void aDeviceThatVanishesWhileIdleIsReportedOnce()
    {
        Rig rig;
        QVERIFY(rig.connect());
        Form2* f = rig.open();
        rig.sim.closeDevice();
        QVERIFY(waitUntil([&] { return !rig.dialogs.messages.isEmpty(); }, 2000));
        QTest::qWait(50);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY(rig.dialogs.messages[0].text.contains(QStringLiteral("Com #3")));
        QVERIFY(!f->serialPort().isOpen());
    }

    void aFileThatChangedAfterLoadingStopsTheUpdateBeforeTheDisplayIsSwitched_data()
    {
        QTest::addColumn<int>("nowBytes"); // -1: deleted
        QTest::newRow("deleted") << -1;
        QTest::newRow("truncated") << 1000;
    }
    void aFileThatChangedAfterLoadingStopsTheUpdateBeforeTheDisplayIsSwitched()
    {
        QFETCH(int, nowBytes);
        Rig rig;
        const QString path =
            writeTempFile(QStringLiteral("changed%1.bin").arg(nowBytes), randomBytes(50000, 8));
        QVERIFY(rig.connect());
        Form2* f = rig.open();
        rig.dialogs.fileAnswers << path;
        f->Command1->click();
        if (nowBytes < 0)
            QVERIFY(QFile::remove(path));
        else
            QVERIFY(QFile::resize(path, nowBytes));
        f->Command2->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Error);
        QVERIFY2(rig.dialogs.messages[0].text.contains(QFileInfo(path).fileName()),
                 qPrintable(rig.dialogs.allMessages()));
        QTest::qWait(300);
        QCOMPARE(rig.display().receivedFrames().size(), 1); // the connect frame only
        QCOMPARE(rig.display().blocksReceived(), 0);
        QVERIFY(!f->statusText().startsWith(QLatin1String("Fertig")));
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
    }

    void anUpdateWithoutFileOrPortIsRefused_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("normal, no file") << false << false << "keine Firmware-Datei";
        QTest::newRow("recovery, no file") << true << false << "keine Firmware-Datei";
        QTest::newRow("normal, port closed") << false << true << "nicht geöffnet";
    }
    void anUpdateWithoutFileOrPortIsRefused()
    {
        QFETCH(bool, recovery);
        QFETCH(bool, withFile);
        QFETCH(QString, message);
        Rig rig({}, true);
        Form2* f = rig.open(); // prompt cancelled
        f->Command4->click();  // Port Open enables both update buttons without a file
        if (withFile) {
            f->Command1->setEnabled(true);
            rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("refused.bin"), randomBytes(100, 6));
            f->Command1->click();
            f->serialPort().close();
        }
        (recovery ? f->Command5 : f->Command2)->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY2(rig.dialogs.messages[0].text.contains(message), qPrintable(rig.dialogs.allMessages()));
        QVERIFY(f->Command2->isEnabled());
        QVERIFY(f->Command5->isEnabled());
        QTest::qWait(100);
        QVERIFY(rig.display().rawReceived().isEmpty());
    }

    void closingTheWindowDuringATransferCancelsIt()
    {
        Rig rig;
        const QString path = writeTempFile(QStringLiteral("cancel.bin"), randomBytes(100000, 10));
        QVERIFY(rig.connect());
        Form2* f = rig.open();
        rig.dialogs.fileAnswers << path;
        f->Command1->click();
        bool heldOpenDuringTransfer = false;
        QObject::connect(f->ProgressBar1, &QProgressBar::valueChanged, f, [&](int value) {
            if (value == 50 * 128 + 1) {
                heldOpenDuringTransfer = processHoldsOpen(path);
                QTimer::singleShot(0, f, [f] { f->close(); });
            }
        });
        QElapsedTimer clock;
        clock.start();
        f->Command2->click();
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(heldOpenDuringTransfer);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Please restart."));
        QVERIFY(!f->isTransferring());
        QVERIFY(!f->isLoaded());
        QVERIFY(!f->isVisible());
        QVERIFY(!f->serialPort().isOpen());
        QVERIFY(!processHoldsOpen(path));
        QVERIFY(!f->statusText().startsWith(QLatin1String("Fertig")));
        const int blocks = rig.display().blocksReceived();
        QTest::qWait(200);
        QCOMPARE(rig.display().blocksReceived(), blocks);
        QVERIFY(blocks >= 50 && blocks < 1016);
    }

    void theReceiverHandlesAnswersOutsideATransfer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("green");
        QTest::addColumn<bool>("open");
        QTest::newRow("ready byte") << QByteArray("\x05") << "Bereit." << false << true;
        QTest::newRow("two acks in one read") << QByteArray("\x06\x06") << "Übertragen." << false << true;
        QTest::newRow("completion closes the port") << QByteArray("\x07") << "Fertig." << true << false;
        QTest::newRow("an ack with noise") << QByteArray("\x06Z") << "Status" << false << true;
    }
    void theReceiverHandlesAnswersOutsideATransfer()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, status);
        QFETCH(bool, green);
        QFETCH(bool, open);
        Rig rig;
        rig.dialogs.promptAnswers << QStringLiteral("3");
        Form2* f = rig.open();
        QVERIFY(f->serialPort().isOpen());
        rig.sim.sendRaw(bytes);
        QTest::qWait(150);
        QCOMPARE(f->statusText(), status);
        QCOMPARE(f->statusIsGreen(), green);
        QCOMPARE(f->serialPort().isOpen(), open);
        QVERIFY(rig.dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
