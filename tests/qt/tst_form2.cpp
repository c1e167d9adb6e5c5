// The update window end to end: control window and update window on a real pseudo-terminal, the display
// simulator answering from its own thread.

#include "control/form1.h"
#include "serial/serialservice.h"
#include "testsupport.h"
#include "ui/model/userguide.h"
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

#include <algorithm>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

namespace {

QByteArray randomBytes(int size)
{
    QByteArray out(size, '\0');
    QRandomGenerator random(quint32(size) ^ 0x5A5A);
    for (char& c : out)
        c = char(random.bounded(256));
    return out;
}

// Whether this process holds a descriptor on the file.
bool processHoldsOpen(const QString& path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget().startsWith(QFileInfo(path).absoluteFilePath()))
            return true;
    return false;
}

QPushButton* button(Form2* f, const char* name)
{
    return control<QPushButton>(f->view(), name);
}

QProgressBar* bar(Form2* f)
{
    return control<QProgressBar>(f->view(), "ProgressBar1");
}

QString status(Form2* f)
{
    return QString::fromStdString(f->statusText());
}

// Enabled state of Load File, Update - Normal, Port Open, Update - Recovery.
QString buttonStates(Form2* f)
{
    QString s;
    for (const char* b : {"Command1", "Command2", "Command4", "Command5"})
        s += f->view().isEnabled(b) ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

// The control window with the simulator at port 3 (and at 14 on request).
struct Rig : ControlRig
{
    explicit Rig(SimulatorConfig config = {}, bool alsoAt14 = false)
        : ControlRig(std::move(config), alsoAt14)
    {}
    Form2* open() { return openUpdateWindow(); }
    // Opens the update window on port 3 (taken over, or typed at the prompt) and loads the file.
    Form2* openAndLoad(const QString& path, bool takeOver = false)
    {
        if (takeOver && !connect())
            return nullptr;
        if (!takeOver)
            dialogs.promptAnswers << QStringLiteral("3");
        Form2* form = open();
        dialogs.fileAnswers << path;
        button(form, "Command1")->click();
        return form;
    }
};

} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT
private slots:
    void theWindowStartsAsDescribedWithReadableCaptions()
    {
        Rig rig;
        Form2* f = rig.open(); // prompt cancelled: Load File is disabled too
        QWidget* window = windowOf(f->view());
        QVERIFY(window->isWindow() && window->isVisible() && !window->isModal());
        QCOMPARE(window->size(), QSize(264, 127));
        QCOMPARE(caption(f->view()), QStringLiteral("Firmwareupdate"));
        QCOMPARE(int(UpdateTransfer::readyTimerInterval().count()), 5000);
        QCOMPARE(bar(f)->maximum(), 130050);
        QCOMPARE(buttonStates(f), QStringLiteral("0010"));
        const QList<std::pair<QWidget*, QRect>> places{
            {button(f, "Command1"), {8, 8, 121, 25}},
            {button(f, "Command2"), {8, 40, 121, 25}},
            {button(f, "Command3"), {136, 8, 121, 25}},
            {button(f, "Command4"), {288, 8, 121, 25}},
            {button(f, "Command5"), {136, 40, 121, 25}},
            {control<QLabel>(f->view(), "Label1"), {8, 72, 121, 17}},
            {bar(f), {8, 96, 249, 25}}};
        QList<QWidget*> chain;
        for (QWidget* w = button(f, "Command1"); chain.size() < places.size(); w = w->nextInFocusChain())
            if (std::any_of(places.begin(), places.end(), [w](auto& p) { return p.first == w; }))
                chain << w;
        for (int i = 0; i < places.size(); ++i) {
            QCOMPARE(chain[i], places[i].first); // tab order as listed
            QCOMPARE(places[i].first->geometry(), places[i].second);
            QCOMPARE(places[i].first->font().pointSizeF(), 8.25);
        }
        const auto fits = [](QWidget* w, const QString& text) {
            return w->fontMetrics().horizontalAdvance(text) + 8 <= w->width();
        };
        for (const char* name : {"Command1", "Command2", "Command3", "Command4", "Command5"})
            QVERIFY2(fits(button(f, name), button(f, name)->text()), name);
        QVERIFY(fits(control<QLabel>(f->view(), "Label1"), QStringLiteral("Übertragen.")));
        QVERIFY(fits(bar(f), QStringLiteral("100 % · Block 1016/1016 · noch 10:00")));
    }

    void startUpTakesOverThePortOrAsksForOne_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("baud"); // 0: port closed
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("hasPort"); // also: Load File enabled
        QTest::newRow("control window connected to 3")
            << true << std::optional<QString>() << "Firmwareupdate Com:3" << 19200 << QString() << true;
        QTest::newRow("prompt answered 3")
            << false << std::optional<QString>("3") << "Firmwareupdate Com:3" << 9600 << QString() << true;
        QTest::newRow("prompt answered as the list shows it")
            << false << std::optional<QString>("Com #3") << "Firmwareupdate Com:3" << 9600 << QString() << true;
        QTest::newRow("prompt cancelled")
            << false << std::optional<QString>() << "Firmwareupdate" << 0 << QString() << false;
        QTest::newRow("prompt 17") << false << std::optional<QString>("17") << "Firmwareupdate" << 0
                                   << "„17“ ist keine Portnummer" << false;
        QTest::newRow("prompt drei") << false << std::optional<QString>("drei") << "Firmwareupdate" << 0
                                     << "keine Portnummer" << false;
        QTest::newRow("port without device")
            << false << std::optional<QString>("5") << "Firmwareupdate Com:5" << 0 << "Com #5" << true;
    }
    void startUpTakesOverThePortOrAsksForOne()
    {
        QFETCH(bool, connected);
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, caption);
        QFETCH(int, baud);
        QFETCH(QString, message);
        QFETCH(bool, hasPort);
        Rig rig;
        if (connected)
            QVERIFY(rig.connect() && rig.form->serialPort().isOpen());
        rig.dialogs.promptAnswers << answer;
        Form2* f = rig.open();
        QCOMPARE(rig.dialogs.prompts.size(), connected ? 0 : 1);
        QCOMPARE(test::caption(f->view()), caption);
        QCOMPARE(f->serialPort().isOpen(), baud != 0);
        if (baud)
            QCOMPARE(f->serialPort().settings().baudRate, baud);
        QCOMPARE(f->view().isEnabled("Command1"), hasPort); // no port chosen disables Load File
        QCOMPARE(f->hasPort(), hasPort);
        QVERIFY(!rig.form->serialPort().isOpen());
        QCOMPARE(rig.dialogs.allMessages().contains(message), true);
        QCOMPARE(rig.dialogs.messages.size(), message.isEmpty() ? 0 : 1);
    }

    void anInvalidPortAnswerSendsNothingWhateverIsClicked()
    {
        Rig rig;
        // The display also sits at port 1, the port number a service starts with.
        rig.form = rig.makeForm(directoryOf({{1, rig.devicePath()}, {3, rig.devicePath()}}));
        rig.dialogs.promptAnswers << QStringLiteral("17");
        Form2* f = rig.open();
        QCOMPARE(buttonStates(f), QStringLiteral("0010"));
        rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("noport.bin"), randomBytes(300));
        f->Command1_Click(); // whatever the order of clicks, enabled or not
        f->Command5_Click();
        f->Command2_Click();
        QTest::qWait(200);
        QVERIFY(rig.display().rawReceived().empty() && !f->serialPort().isOpen());
        QCOMPARE(rig.dialogs.messages.size(), 3);
        QVERIFY2(rig.dialogs.messages[1].text.contains(QStringLiteral("kein Port gewählt")) &&
                     rig.dialogs.messages[2].text == rig.dialogs.messages[1].text,
                 qPrintable(rig.dialogs.allMessages()));
    }

    void closingAsksForARestartAndTheNextOpeningStartsAgain()
    {
        Rig rig;
        Form2* f = rig.openAndLoad(writeTempFile(QStringLiteral("close.bin"), randomBytes(300)), true);
        bool portClosedAtMessage = false;
        rig.dialogs.onMessage = [&](const auto&) { portClosedAtMessage = !f->serialPort().isOpen(); };
        QVERIFY(windowOf(f->view())->close()); // the close box; the Close button calls the same
        QCOMPARE(rig.dialogs.allMessages(), QStringLiteral("[Hinweis] Please restart."));
        QCOMPARE(rig.dialogs.messages[0].icon, Icon::None);
        QVERIFY(portClosedAtMessage && !f->isWindowVisible() && !f->isLoaded());
        QVERIFY(!rig.form->serialPort().isOpen());

        rig.dialogs.onMessage = nullptr;
        QCOMPARE(rig.open(), f);
        QVERIFY(f->isLoaded() && f->serialPort().isOpen());
        QCOMPARE(buttonStates(f), QStringLiteral("1010"));
        QVERIFY(!f->imageLength);
    }

    void loadFileRecordsTheFileOrKeepsThePreviousOne_data()
    {
        QTest::addColumn<QString>("answer"); // a file name in a fresh folder; empty: Cancel
        QTest::addColumn<int>("size");       // -1: the name does not exist
        QTest::addColumn<QString>("message");
        QTest::newRow("130084 bytes") << "a.bin" << 130084 << QString();
        QTest::newRow("130085 bytes: warning only") << "b.BIN" << 130085 << "[Error] Datei zu groß!";
        QTest::newRow("Cancel") << QString() << 700 << QString();
        QTest::newRow("a name that does not exist") << "missing.bin" << -1 << "missing.bin";
    }
    void loadFileRecordsTheFileOrKeepsThePreviousOne()
    {
        QFETCH(QString, answer);
        QFETCH(int, size);
        QFETCH(QString, message);
        Rig rig;
        const QString first = writeTempFile(QStringLiteral("first.bin"), randomBytes(700));
        Form2* f = rig.openAndLoad(first);
        QTemporaryDir dir;
        const QString chosen = dir.filePath(answer);
        if (size >= 0 && !answer.isEmpty())
            QVERIFY(QFile(chosen).open(QIODevice::WriteOnly) && QFile::resize(chosen, size));
        rig.dialogs.fileAnswers << (answer.isEmpty() ? std::nullopt : std::optional(chosen));
        button(f, "Command1")->click();
        const auto& request = rig.dialogs.fileRequests.last();
        QCOMPARE(request.title + request.folder + request.filter,
                 "Open" + QCoreApplication::applicationDirPath() + "Binary Files (*.bin)");
        const bool taken = size >= 0 && !answer.isEmpty();
        QCOMPARE(QString::fromStdString(f->imagePath), taken ? chosen : first);
        QCOMPARE(f->imageLength, std::optional<std::int64_t>(taken ? size : 700));
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
        QVERIFY2(rig.dialogs.allMessages().contains(message), qPrintable(rig.dialogs.allMessages()));
        QCOMPARE(rig.dialogs.messages.size(), message.isEmpty() ? 0 : 1);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing.bin"))));
    }

    void anUpdateSendsTheWholeImageAndEndsFinished_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<bool>("coalesce");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("ackOnly"); // a lone 0x06 after the last block, no completion byte
        QTest::newRow("normal, 100 kB") << false << false << 100000 << false;
        QTest::newRow("normal, ack and completion in one read") << false << true << 500 << false;
        QTest::newRow("recovery, completion alone after the last block") << true << false << 100000 << false;
        QTest::newRow("recovery, ack and completion in one read") << true << true << 500 << false;
        QTest::newRow("recovery, a lone ack after the last block") << true << false << 500 << true;
    }
    void anUpdateSendsTheWholeImageAndEndsFinished()
    {
        QFETCH(bool, recovery);
        QFETCH(bool, coalesce);
        QFETCH(int, size);
        QFETCH(bool, ackOnly);
        SimulatorConfig config;
        config.recovery = recovery; // the display already waits in its update mode
        config.coalesceFinal = coalesce;
        config.finalAckOnly = ackOnly;
        config.ackDelayBlock = 1; // "Bereit." stands a while before the first acknowledgement
        config.ackDelayMs = 100;
        Rig rig(config);
        const QByteArray file = randomBytes(size);
        const QString path = writeTempFile(QStringLiteral("image%1.bin").arg(size), file);
        Form2* f = rig.openAndLoad(path, !recovery);
        QString statesDuringTransfer;
        QObject::connect(bar(f), &QProgressBar::valueChanged, bar(f), [&](int value) {
            if (value > 128 && statesDuringTransfer.isEmpty())
                statesDuringTransfer = buttonStates(f) + (processHoldsOpen(path) ? "+file" : "");
        });
        QStringList statuses; // each status text shown, in order
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, bar(f), [&] {
            if (statuses.isEmpty() || statuses.last() != status(f))
                statuses << status(f);
        });
        watch.start(10);
        button(f, recovery ? "Command5" : "Command2")->click();
        watch.stop();
        QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        QCOMPARE(statesDuringTransfer, QStringLiteral("0000+file"));
        QVERIFY2(
            statuses.join('|').contains(recovery ? "Warte....|Übertragen." : "Warte....|Bereit.|Übertragen."),
            qPrintable(statuses.join('|')));
        // The normal update says "Fertig" when its last block is out; the completion byte says "Fertig.";
        // the recovery update's "Fertig" leaves the background as it was.
        const bool completion = !ackOnly;
        QCOMPARE(status(f), recovery && completion ? QStringLiteral("Fertig.") : QStringLiteral("Fertig"));
        QCOMPARE(f->statusIsGreen(), completion);
        if (completion)
            QVERIFY(waitUntil([&] { return status(f) == QLatin1String("Fertig."); }, 3000));
        QVERIFY(f->statusIsGreen() == completion && f->serialPort().isOpen() == !completion);
        QVERIFY(!processHoldsOpen(path));
        QCOMPARE(f->serialPort().settings().baudRate, 9600);
        QCOMPARE(rig.display().blocksReceived(), 1016);
        QCOMPARE(qbytes(rig.display().receivedImage()), file + QByteArray(130048 - size, char(0xFF)));
        QCOMPARE(bar(f)->value(), 130049);
        QVERIFY(bar(f)->text().contains(QStringLiteral("Block 1016/1016")));
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
        const auto frames = qframes(rig.display().receivedFrames());
        QCOMPARE(frames.isEmpty() ? QByteArray() : frames.last(),
                 recovery ? QByteArray() : qbytes(FrameBuilder::updateFrame()));
    }

    void aDisplayThatStopsAnsweringEndsInTimeout_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<int>("lastAck"); // -2: no ready byte
        QTest::addColumn<int>("attempts");
        QTest::newRow("no ready byte, twice") << false << -2 << 2;
        QTest::newRow("normal, acknowledgements stop after block 5") << false << 5 << 1;
        QTest::newRow("recovery, acknowledgements stop after block 1015") << true << 1015 << 1;
    }
    void aDisplayThatStopsAnsweringEndsInTimeout()
    {
        QFETCH(bool, recovery);
        QFETCH(int, lastAck);
        QFETCH(int, attempts);
        SimulatorConfig config;
        config.recovery = recovery;
        config.noReady = lastAck == -2;
        config.stopAckAfterBlock = lastAck;
        Rig rig(config);
        Form2* f = rig.openAndLoad(writeTempFile(QStringLiteral("timeout.bin"), randomBytes(4000)));
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            QElapsedTimer clock;
            clock.start();
            button(f, recovery ? "Command5" : "Command2")->click();
            QVERIFY2(clock.elapsed() >= 5000 && clock.elapsed() < 7000, "every attempt gets its own 5 s");
            QCOMPARE(rig.dialogs.messages.size(), attempt);
            const auto& m = rig.dialogs.messages.last();
            QCOMPARE(m.title + (m.icon == Icon::Error ? "/error" : ""), QStringLiteral("Error/error"));
            QVERIFY2(m.text.startsWith(QLatin1String(lastAck == -2 ? "Timeout\n\n" : "Timeout")) &&
                         (lastAck == -2 || m.text.contains(QString::number(lastAck + 1))),
                     qPrintable(m.text));
            QCOMPARE(status(f), QStringLiteral("Timeout"));
            QVERIFY(!f->statusIsGreen());
            QCOMPARE(f->serialPort().settings().baudRate, 9600);
            QVERIFY(!f->transfer().readyTimerActive());
            QCOMPARE(buttonStates(f), QStringLiteral("1111"));
        }
        QCOMPARE(rig.display().blocksReceived(), qMax(0, lastAck + 1));
        QCOMPARE(rig.display().bytesBeforeReady(), 0);
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
        Form2* f = rig.openAndLoad(writeTempFile(QStringLiteral("unplug.bin"), randomBytes(20000)));
        QElapsedTimer clock;
        clock.start();
        button(f, recovery ? "Command5" : "Command2")->click();
        QVERIFY2(clock.elapsed() < 2000, "the loss ends the transfer at once");
        QTest::qWait(50); // a second report would come now
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY2(rig.dialogs.messages[0].text.contains(QStringLiteral("7 von 1016 Blöcken")),
                 qPrintable(rig.dialogs.allMessages()));
        QCOMPARE(bar(f)->text(), QStringLiteral("0 % · Block 7/1016 · abgebrochen"));
        QVERIFY(!f->serialPort().isOpen() && !status(f).startsWith(QLatin1String("Fertig")));
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
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
        const QString path = writeTempFile(QStringLiteral("changed%1.bin").arg(nowBytes), randomBytes(50000));
        Form2* f = rig.openAndLoad(path, true);
        QVERIFY(nowBytes < 0 ? QFile::remove(path) : QFile::resize(path, nowBytes));
        button(f, "Command2")->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY2(rig.dialogs.messages[0].text.contains(QFileInfo(path).fileName()),
                 qPrintable(rig.dialogs.allMessages()));
        QTest::qWait(300);
        QCOMPARE(int(rig.display().receivedFrames().size()), 1); // the connect frame only
        QCOMPARE(rig.display().blocksReceived(), 0);
        QCOMPARE(buttonStates(f), QStringLiteral("1111"));
    }

    void anUpdateWithoutFileOrOnAClosedPortIsRefused_data()
    {
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("normal, no file") << false << false << "keine Firmware-Datei";
        QTest::newRow("recovery, no file") << true << false << "keine Firmware-Datei";
        QTest::newRow("normal, port closed") << false << true << "nicht geöffnet";
    }
    void anUpdateWithoutFileOrOnAClosedPortIsRefused()
    {
        QFETCH(bool, recovery);
        QFETCH(bool, withFile);
        QFETCH(QString, message);
        Rig rig({}, true);
        Form2* f = rig.open();             // prompt cancelled
        button(f, "Command4")->click(); // Port Open: port 14, update buttons on even without a file
        QVERIFY(f->serialPort().isOpen() && f->serialPort().commPort() == 14);
        QCOMPARE(status(f) + buttonStates(f), QStringLiteral("Warte....0111"));
        if (withFile) {
            f->imagePath = writeTempFile(QStringLiteral("refused.bin"), randomBytes(100)).toStdString();
            f->imageLength = 100;
            f->serialPort().close();
        }
        button(f, recovery ? "Command5" : "Command2")->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY2(rig.dialogs.messages[0].text.contains(message), qPrintable(rig.dialogs.allMessages()));
        QCOMPARE(buttonStates(f), QStringLiteral("0111"));
        QTest::qWait(100);
        QVERIFY(rig.display().rawReceived().empty());
    }

    void aFailedTransferAfterAFinishedOneShowsItsOwnEnd()
    {
        Rig rig;
        Form2* f = rig.openAndLoad(writeTempFile(QStringLiteral("twice.bin"), randomBytes(1000)), true);
        button(f, "Command2")->click();
        QVERIFY(waitUntil([&] { return status(f) == QLatin1String("Fertig."); }, 3000));
        QVERIFY(f->statusIsGreen() && bar(f)->value() == 130049);
        // The display is back in its normal mode: a recovery update gets no acknowledgement.
        button(f, "Command5")->click();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(status(f), QStringLiteral("Timeout"));
        QVERIFY(!f->statusIsGreen());
        QCOMPARE(bar(f)->value(), 129);
        QCOMPARE(bar(f)->text(), QStringLiteral("0 % · Block 1/1016 · abgebrochen"));
        QCOMPARE(windowOf(f->view())->focusWidget(), button(f, "Command5"));
    }

    void closingDuringATransferAsksAndNeverStallsIt_data()
    {
        QTest::addColumn<bool>("controlWindow"); // closed: the control window, else the update window
        QTest::addColumn<bool>("stop");          // the answer
        QTest::newRow("update window, Nein after 5.5 s") << false << false;
        QTest::newRow("update window, Ja") << false << true;
        QTest::newRow("control window, Nein after 5.5 s") << true << false;
        QTest::newRow("control window, Ja") << true << true;
    }
    void closingDuringATransferAsksAndNeverStallsIt()
    {
        QFETCH(bool, controlWindow);
        QFETCH(bool, stop);
        SimulatorConfig config;
        config.ackDelayMs = 7; // about 8 s for the whole image
        Rig rig(config);
        const QByteArray file = randomBytes(100000);
        const QString path = writeTempFile(QStringLiteral("closing.bin"), file);
        Form2* f = rig.openAndLoad(path, true);
        QWidget* window = controlWindow ? windowOf(rig.form->view()) : windowOf(f->view());
        windowOf(rig.form->view())->show();
        bool asked = false;
        bool helpDisabled = false; // in both windows: its message box would hold the transfer up
        QObject::connect(bar(f), &QProgressBar::valueChanged, bar(f), [&](int value) {
            if (value < 20 * 128 || asked)
                return;
            asked = true;
            helpDisabled = !f->commandEnabled(ui::userguide::Command) &&
                           !rig.form->commandEnabled(ui::userguide::Command);
            QTimer::singleShot(0, bar(f), [&] {
                QVERIFY(!window->close()); // asks instead
                QTimer::singleShot(stop ? 300 : 5500, bar(f), [&] { QVERIFY(rig.dialogs.answer(stop)); });
            });
        });
        QString atMessage;
        rig.dialogs.onMessage = [&](const auto&) {
            atMessage =
                QStringLiteral("port %1 file %2").arg(f->serialPort().isOpen()).arg(processHoldsOpen(path));
        };
        button(f, "Command2")->click();
        QVERIFY(helpDisabled);
        QVERIFY(f->commandEnabled(ui::userguide::Command));
        QCOMPARE(rig.dialogs.questions.size(), 1);
        QVERIFY2(rig.dialogs.questions[0].contains(QStringLiteral("Update - Recovery")) &&
                     rig.dialogs.questions[0].contains(QStringLiteral(" von 1016")),
                 qPrintable(rig.dialogs.questions[0]));
        QVERIFY(!rig.dialogs.questionOpen());
        if (!stop) {
            QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
            QVERIFY(waitUntil([&] { return status(f) == QLatin1String("Fertig."); }, 3000));
            QCOMPARE(qbytes(rig.display().receivedImage()), file + QByteArray(130048 - file.size(), char(0xFF)));
            QVERIFY(window->isVisible() && f->isLoaded());
            return;
        }
        QCOMPARE(atMessage, QStringLiteral("port 0 file 0"));
        QVERIFY(!window->isVisible() && !f->isTransferring());
        QCOMPARE(f->isLoaded(), controlWindow); // the update window stays with its advice
        QVERIFY2(rig.dialogs.allMessages().contains(controlWindow
                                                        ? QStringLiteral("Update - Recovery")
                                                        : QStringLiteral("[Hinweis] Please restart.")),
                 qPrintable(rig.dialogs.allMessages()));
        const int blocks = rig.display().blocksReceived();
        QTest::qWait(200);
        QCOMPARE(rig.display().blocksReceived(), blocks);
        QVERIFY(blocks >= 20 && blocks < 1016);
    }
};

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
