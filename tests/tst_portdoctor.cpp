// Why a port does not open, told from fake system trees (groups, lock files, /proc, sysfs) and from a
// real second program that holds a pseudo-terminal.
#include "serial/portdoctor.h"
#include "serial/serialservice.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <iostream>
#include <unistd.h>

using namespace morvandell;
using namespace morvandell::test;

class TestPortDoctor : public QObject
{
    Q_OBJECT
private slots:
    void explainsFromTheSystemTree_data();
    void explainsFromTheSystemTree();
    void namesTheSecondProgramHoldingThePort();
};

namespace {

constexpr auto HoldEnv = "TST_PORTDOCTOR_HOLD";

// Builds a tree from "path=content" (a file) and "path->target" (a link) items.
void buildTree(const QString& root, const QStringList& items)
{
    for (const QString& item : items) {
        const bool isLink = item.contains(QLatin1String("->"));
        const QString path = item.section(isLink ? QStringLiteral("->") : QStringLiteral("="), 0, 0);
        const QString value = item.section(isLink ? QStringLiteral("->") : QStringLiteral("="), 1);
        const QString full = root + QLatin1Char('/') + path;
        QDir().mkpath(QFileInfo(full).path());
        if (path.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(full);
        } else if (isLink) {
            QFile::link(value, full);
        } else {
            QFile file(full);
            file.open(QIODevice::WriteOnly);
            file.write(value.toUtf8().replace("\\n", "\n"));
        }
    }
}

} // namespace

void TestPortDoctor::explainsFromTheSystemTree_data()
{
    // The fake device belongs to this process's group; the fake group database names that gid.
    const QString gid = QString::number(::getegid());
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("unexpected");

    QTest::newRow("not in the group")
        << "permission"
        << "/dev/ttyUSB0" << QStringList{"dev/ttyUSB0=", "etc/group=dialout:x:" + gid + ":bob\\n"}
        << QStringList{"dialout", "sudo usermod -aG dialout alice", "70-morvandell.rules"} << QStringList{};
    QTest::newRow("in the group but not logged in again")
        << "permission"
        << "/dev/ttyUSB0" << QStringList{"dev/ttyUSB0=", "etc/group=dialout:x:" + gid + ":bob,alice\\n"}
        << QStringList{"dialout", "alice"} << QStringList{"usermod"};
    QTest::newRow("busy by a lock file of a running process")
        << "busy"
        << "/dev/ttyUSB0"
        << QStringList{"dev/ttyUSB0=", "run/lock/LCK..ttyUSB0=4242\\nminicom\\n", "proc/4242/comm=minicom\\n"}
        << QStringList{"minicom", "4242"} << QStringList{"ModemManager"};
    QTest::newRow("stale lock file is no holder")
        << "busy"
        << "/dev/ttyUSB0" << QStringList{"dev/ttyUSB0=", "run/lock/LCK..ttyUSB0=4242\\n"} << QStringList{}
        << QStringList{"4242"};
    QTest::newRow("busy by ModemManager")
        << "busy"
        << "/dev/ttyACM0"
        << QStringList{"dev/ttyACM0=", "proc/812/comm=ModemManager\\n", "proc/812/fd/9->/dev/ttyACM0"}
        << QStringList{"ModemManager", "812", "70-morvandell.rules"} << QStringList{};
    QTest::newRow("brltty took a CH340")
        << "gone"
        << "/dev/ttyUSB0"
        << QStringList{"usr/bin/brltty=", "sys/bus/usb/devices/1-1/idVendor=1a86\\n",
                       "sys/bus/usb/devices/1-1/idProduct=7523\\n", "sys/bus/usb/devices/1-1:1.0/"}
        << QStringList{"brltty", "CH340"} << QStringList{};
    QTest::newRow("CH340 with its tty is no brltty case")
        << "gone"
        << "/dev/ttyUSB0"
        << QStringList{"usr/bin/brltty=", "sys/bus/usb/devices/1-1/idVendor=1a86\\n",
                       "sys/bus/usb/devices/1-1/idProduct=7523\\n", "sys/bus/usb/devices/1-1:1.0/ttyUSB0/"}
        << QStringList{} << QStringList{"brltty"};
}

void TestPortDoctor::explainsFromTheSystemTree()
{
    QFETCH(QString, cause);
    QFETCH(QString, device);
    QFETCH(QStringList, tree);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, unexpected);
    QTemporaryDir root;
    buildTree(root.path(), tree);
    PortDoctor doctor(root.path());
    PortDoctor::Credentials alice;
    alice.user = QStringLiteral("alice");
    alice.uid = 4711;
    alice.gid = 4711;
    alice.groups = {4711};
    doctor.setCredentials(alice);

    const PortDirectory directory({{1, device}}, [] { return QList<PortInfo>{}; });
    const QString text = cause == QLatin1String("permission") ? doctor.noPermission(device)
                         : cause == QLatin1String("busy")     ? doctor.busy(device)
                                                              : doctor.notThere(directory, 1);
    for (const QString& part : expected)
        QVERIFY2(text.contains(part), qPrintable(text));
    for (const QString& part : unexpected)
        QVERIFY2(!text.contains(part), qPrintable(text));
    // The report covers the same tree without failing.
    QVERIFY(doctor.report(directory).contains(QLatin1String("Com #1")));
}

void TestPortDoctor::namesTheSecondProgramHoldingThePort()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(HoldEnv), pty.slavePath());
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("holding"));

    SerialService service(directoryOf({{2, pty.slavePath()}}));
    service.setCommPort(2);
    QVERIFY(!service.open());
    const QString text = service.describeLastError();
    QVERIFY2(text.contains(QString::number(holder.processId())), qPrintable(text));
    QVERIFY2(text.contains(QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15)),
             qPrintable(text));
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
}

// Run with TST_PORTDOCTOR_HOLD=<device>, the test program is the second program: it opens the port
// with Qt's lock and holds it until its input closes.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(HoldEnv)) {
        QCoreApplication app(argc, argv);
        QSerialPort port(qEnvironmentVariable(HoldEnv));
        if (!port.open(QIODevice::ReadWrite))
            return 1;
        std::cout << "holding" << std::endl;
        std::string line;
        std::getline(std::cin, line);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestPortDoctor test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_portdoctor.moc"
