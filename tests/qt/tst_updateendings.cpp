// How a firmware transfer ends: the message for every way it ends without "Fertig.", the focus on the way
// back, and the sleep inhibitor held from start to end. logind is a fake on a private D-Bus bus.
#include "control/form1.h"
#include "testsupport.h"
#include "updater/form2.h"
#include "updater/sleepinhibitor.h"
#include "updater/updatetransfer.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <poll.h>
#include <unistd.h>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

Q_DECLARE_METATYPE(SimulatorConfig)

// logind's Inhibit: hands out the write end of a pipe; the inhibitor lasts until every copy is closed.
class FakeLogin1 : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogin1() override
    {
        for (int fd : m_readEnds)
            ::close(fd);
    }
    int held() const
    {
        int n = 0;
        for (int fd : m_readEnds) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 0) == 0)
                ++n; // no hang-up: a write end is still open somewhere
        }
        return n;
    }
    QStringList requests;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode)
    {
        requests << QStringList{what, who, why, mode}.join('|');
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        m_readEnds << fds[0];
        QDBusUnixFileDescriptor out(fds[1]); // a copy
        ::close(fds[1]);
        return out;
    }

private:
    QList<int> m_readEnds;
};

class TestUpdateEndings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                    QStringLiteral("--print-address=1")});
        QVERIFY(m_bus.waitForStarted() && m_bus.waitForReadyRead(5000));
        const QByteArray address = m_bus.readLine().trimmed();
        // The program's system bus is this private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        QDBusConnection fake =
            QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("logind"));
        QVERIFY(fake.isConnected());
        QVERIFY(fake.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_login1,
                                    QDBusConnection::ExportAllSlots));
        QVERIFY(fake.registerService(QStringLiteral("org.freedesktop.login1")));
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
        m_bus.terminate();
        m_bus.waitForFinished(3000);
    }

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
        QTest::newRow("file shortened after the update frame") << c << "shorten"
                                                               << "kürzer geworden" << true;
        QTest::newRow("file gone before the update frame") << SimulatorConfig() << "delete"
                                                           << "existiert nicht mehr" << false;
    }
    void everyEndingSaysWhatHappenedAndTheMachineMayRestAfterwards()
    {
        QFETCH(SimulatorConfig, config);
        QFETCH(QString, during);
        QFETCH(QString, message);
        QFETCH(bool, touched);
        ControlRig rig(config);
        QVERIFY(rig.connect());
        rig.form->Command4_Click();
        Form2* f = rig.form->updateWindow();
        const QString path = writeTempFile(QStringLiteral("ending.bin"), QByteArray(50000, 'x'));
        rig.dialogs.fileAnswers << path;
        f->Command1->click();
        QVERIFY(f->Command1->toolTip().contains(QStringLiteral("ending.bin\n50000 Bytes\nSHA-256 ")));
        if (during == QLatin1String("delete"))
            QVERIFY(QFile::remove(path));
        auto* transfer = f->findChild<UpdateTransfer*>();
        bool seenHeld = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            seenHeld = seenHeld || (transfer->sleepInhibitor().isHeld() && m_login1.held() == 1);
        });
        watch.start(20);
        bool done = false;
        connect(f->ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
            if (value < 20 * 128 || done)
                return;
            done = true;
            if (during == QLatin1String("cancel"))
                transfer->cancel();
            else if (during == QLatin1String("shorten"))
                QVERIFY(QFile::resize(path, 1000));
        });
        f->Command2->click();
        watch.stop();

        QCOMPARE(seenHeld, during != QLatin1String("delete")); // a refusal ends before the answer
        QVERIFY(waitUntil([&] { return m_login1.held() == 0; }, 2000));
        QVERIFY(!transfer->sleepInhibitor().isWanted() && !transfer->sleepInhibitor().isHeld());
        if (seenHeld)
            QCOMPARE(m_login1.requests.last(),
                     QStringLiteral("sleep:idle|Morvandell|Firmware-Update läuft|block"));
        if (message.isEmpty()) {
            QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
            return;
        }
        QCOMPARE(rig.dialogs.messages.size(), 1);
        const QString text = rig.dialogs.messages[0].text;
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY2(text.endsWith(touched ? UpdateTransfer::recoveryAdvice() : UpdateTransfer::untouchedNote()),
                 qPrintable(text));
        QCOMPARE(f->focusWidget() == f->Command5, touched);
        QVERIFY(!f->statusText().startsWith(QLatin1String("Fertig")) && !f->statusIsGreen());
    }

private:
    QProcess m_bus;
    FakeLogin1 m_login1;
};

QTEST_MAIN(TestUpdateEndings)
#include "tst_updateendings.moc"
