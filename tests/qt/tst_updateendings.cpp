// How a firmware transfer ends: the message for every way it ends without "Fertig.", the focus on the way
// back, and the sleep inhibitor held from start to end. logind is a fake on a private D-Bus bus.
#include "control/form1.h"
#include "fakelogind.h"
#include "testsupport.h"
#include "updater/form2.h"
#include "updater/sleepinhibitor.h"
#include "updater/updatetransfer.h"

#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

Q_DECLARE_METATYPE(SimulatorConfig)

class TestUpdateEndings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The program's system bus is a private one with a fake logind on it.
        m_login1 = std::make_unique<FakeLogind>();
        QVERIFY(m_login1->isValid());
    }
    void cleanupTestCase() { m_login1.reset(); }

    void everyEndingSaysWhatHappenedAndTheMachineMayRestAfterwards_data()
    {
        QTest::addColumn<SimulatorConfig>("config");
        QTest::addColumn<QString>("during");  // at block 20: "cancel", "shorten" the file, or nothing
        QTest::addColumn<QString>("message"); // empty: "Fertig"
        QTest::addColumn<bool>("touched");    // the way back is shown and focused
        SimulatorConfig c;
        QTest::newRow("finished") << c << QString() << QString() << false;
        c.noReady = true;
        QTest::newRow("no ready byte") << c << QString() << "Timeout" << true;
        c = {};
        c.stopAckAfterBlock = 30;
        QTest::newRow("acknowledgements stop") << c << QString() << "Block 31 von 1016" << true;
        c = {};
        c.closeAfterBlock = 30;
        QTest::newRow("device gone") << c << QString() << "abgebrochen" << true;
        c = {};
        c.ackDelayMs = 2; // slow enough for progress reports before the end
        QTest::newRow("stopped") << c << "cancel"
                                 << "Das Update wurde beendet" << true;
        // The loaded bytes go out, whatever happens to the file meanwhile.
        QTest::newRow("file shortened after the update frame") << c << "shorten" << QString() << false;
        QTest::newRow("file gone before the update frame") << SimulatorConfig() << "delete"
                                                           << "existiert seit dem Laden nicht mehr" << false;
    }
    void everyEndingSaysWhatHappenedAndTheMachineMayRestAfterwards()
    {
        QFETCH(SimulatorConfig, config);
        QFETCH(QString, during);
        QFETCH(QString, message);
        QFETCH(bool, touched);
        ControlRig rig(config);
        QVERIFY(rig.connect());
        Form2* f = rig.openUpdateWindow();
        const QString path = writeTempFile(QStringLiteral("ending.bin"), QByteArray(50000, 'x'));
        rig.dialogs.fileAnswers << path;
        QPushButton* load = control<QPushButton>(f->view(), "Command1");
        load->click();
        QVERIFY(load->toolTip().contains(QStringLiteral("ending.bin\n50000 Bytes\nSHA-256 ")));
        if (during == QLatin1String("delete"))
            QVERIFY(QFile::remove(path));
        UpdateTransfer* transfer = &f->transfer();
        bool seenHeld = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            seenHeld = seenHeld || (transfer->sleepInhibitor().isHeld() && m_login1->held() == 1);
        });
        watch.start(20);
        bool done = false;
        connect(control<QProgressBar>(f->view(), "ProgressBar1"), &QProgressBar::valueChanged, this, [&](int value) {
            if (value < 20 * 128 || done)
                return;
            done = true;
            if (during == QLatin1String("cancel"))
                transfer->cancel();
            else if (during == QLatin1String("shorten"))
                QVERIFY(QFile::resize(path, 1000));
        });
        control<QPushButton>(f->view(), "Command2")->click();
        watch.stop();

        QCOMPARE(seenHeld, during != QLatin1String("delete")); // a refusal ends before the answer
        QVERIFY(waitUntil([&] { return m_login1->held() == 0; }, 2000));
        QVERIFY(!transfer->sleepInhibitor().isWanted() && !transfer->sleepInhibitor().isHeld());
        if (seenHeld)
            QCOMPARE(QString::fromStdString(m_login1->requests().back()),
                     QStringLiteral("sleep:idle|Morvandell|Firmware-Update läuft|block"));
        if (message.isEmpty()) {
            QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
            return;
        }
        QCOMPARE(rig.dialogs.messages.size(), 1);
        const QString text = rig.dialogs.messages[0].text;
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY2(text.endsWith(QString::fromStdString(touched ? UpdateTransfer::recoveryAdvice()
                                                                  : UpdateTransfer::untouchedNote())),
                 qPrintable(text));
        QCOMPARE(windowOf(f->view())->focusWidget() == control(f->view(), "Command5"), touched);
        QVERIFY(!QString::fromStdString(f->statusText()).startsWith(QLatin1String("Fertig")) && !f->statusIsGreen());
    }

private:
    std::unique_ptr<FakeLogind> m_login1;
};

QTEST_MAIN(TestUpdateEndings)
#include "tst_updateendings.moc"
