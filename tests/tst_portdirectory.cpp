// The live port list: devices plugged in and pulled out while the program runs, stable numbers,
// numbers still in use, and one number per device however it is named.
#include "control/form1.h"
#include "serial/portdirectory.h"
#include "testsupport.h"
#include "ui/combobox.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace morvandell;
using namespace morvandell::test;

class TestPortDirectory : public QObject
{
    Q_OBJECT
private slots:
    void listFollowsTheMachine_data();
    void listFollowsTheMachine();
    void aLinkAndItsTargetGetOneNumber();
    void aMappedPathIsOfferedOnceItExists();
    void portListIsRebuiltWhenOpened();
    void systemPortsComeFromSysfs();
};

namespace {

// Adapters named by a letter; the letter is their serial number, "A@3" plugs A in as ttyUSB3.
PortInfo adapter(const QString& token)
{
    const QString letter = token.left(1);
    const int tty = token.contains(QLatin1Char('@')) ? token.section(QLatin1Char('@'), 1).toInt()
                                                     : letter.at(0).unicode() - 'A';
    PortInfo port;
    port.device = QStringLiteral("/nonexistent/ttyUSB%1").arg(tty);
    port.serialNumber = letter;
    port.vendorId = 0x1a86;
    port.productId = 0x7523;
    return port;
}

} // namespace

void TestPortDirectory::listFollowsTheMachine_data()
{
    // Steps separated by ';': "+A" plugs A in, "-A" pulls it out, "*3" means number 3 is selected or
    // open, "= A1 B2" is the list the next opening shows (letter and number).
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("steps");
    QTest::newRow("plugged in after start-up") << "A"
                                               << "= A1; +B = A1 B2";
    QTest::newRow("pulled out") << "A B"
                                << "-A = B2; -B =";
    QTest::newRow("selected and pulled out stays") << "A B"
                                                   << "-A *1 = A1 B2; = B2";
    QTest::newRow("replugged keeps its number") << "A B"
                                                << "-A = B2; +A@7 = A1 B2";
    QTest::newRow("new device avoids a gone one's number") << "A B"
                                                           << "-A; +C = B2 C3; +A = A1 B2 C3";
    QTest::newRow("number in use is never handed on")
        << "A B C D E F G H I J K L M N O P"
        << "-A *1; +Q *1 = A1 B2 C3 D4 E5 F6 G7 H8 I9 J10 K11 L12 M13 N14 O15 P16";
    QTest::newRow("gone number reused when nothing else is free")
        << "A B C D E F G H I J K L M N O P"
        << "-A; +Q = Q1 B2 C3 D4 E5 F6 G7 H8 I9 J10 K11 L12 M13 N14 O15 P16; -Q +A = A1 B2 C3 D4 E5 F6 G7 H8 "
           "I9 J10 K11 L12 M13 N14 O15 P16";
}

void TestPortDirectory::listFollowsTheMachine()
{
    QFETCH(QString, initial);
    QFETCH(QString, steps);
    auto machine = std::make_shared<QMap<QString, PortInfo>>();
    for (const QString& token : initial.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        machine->insert(token.left(1), adapter(token));
    const PortDirectory directory({}, [machine] { return machine->values(); });

    for (const QString& step : steps.split(QLatin1Char(';'))) {
        QSet<int> inUse;
        const QString actions = step.section(QLatin1Char('='), 0, 0);
        for (const QString& token : actions.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (token.startsWith(QLatin1Char('+')))
                machine->insert(token.mid(1, 1), adapter(token.mid(1)));
            else if (token.startsWith(QLatin1Char('-')))
                machine->remove(token.mid(1));
            else if (token.startsWith(QLatin1Char('*')))
                inUse.insert(token.mid(1).toInt());
        }
        directory.refresh(inUse);
        if (!step.contains(QLatin1Char('=')))
            continue;
        QStringList shown;
        for (int n : directory.listed(inUse))
            shown << directory.info(n).serialNumber + QString::number(n);
        QCOMPARE(shown.join(QLatin1Char(' ')), step.section(QLatin1Char('='), 1).simplified());
    }
}

void TestPortDirectory::aLinkAndItsTargetGetOneNumber()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("ttyUSB0"));
    const QString link = dir.filePath(QStringLiteral("usb-FTDI_FT232R_A1-if00-port0"));
    QFile(target).open(QIODevice::WriteOnly);
    QVERIFY(QFile::link(target, link));
    PortInfo system;
    system.device = target;
    system.description = QStringLiteral("FT232R USB UART");

    const PortDirectory directory({{5, link}}, [system] { return QList<PortInfo>{system}; });
    QCOMPARE(directory.listed(), QList<int>{5});
    QCOMPARE(directory.entry(5).device, link);
    QVERIFY(directory.toolTip(5).contains(target));
    QVERIFY(directory.toolTip(5).contains(system.description));
}

void TestPortDirectory::aMappedPathIsOfferedOnceItExists()
{
    QTemporaryDir dir;
    const QString later = dir.filePath(QStringLiteral("display"));
    const PortDirectory directory({{2, later}}, [] { return QList<PortInfo>{}; });
    QVERIFY(directory.listed().isEmpty());
    QFile(later).open(QIODevice::WriteOnly);
    directory.refresh();
    QCOMPARE(directory.listed(), QList<int>{2});
    QVERIFY(directory.history(2).firstSeen.isValid());
    QVERIFY(!directory.history(2).atStartUp);
}

void TestPortDirectory::portListIsRebuiltWhenOpened()
{
    // Two mapped links to pseudo-terminals; the second appears only after start-up.
    PtyPair first, second;
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("one")), two = dir.filePath(QStringLiteral("two"));
    QVERIFY(QFile::link(first.slavePath(), one));
    ScriptedDialogs dialogs;
    Form1 form(std::make_shared<const PortDirectory>(QMap<int, QString>{{1, one}, {2, two}},
                                                     [] { return QList<PortInfo>{}; }),
               &dialogs);
    auto entries = [&] {
        QStringList all;
        for (int i = 0; i < form.Combo5->count(); ++i)
            all << form.Combo5->itemText(i);
        return all.join(QLatin1Char(','));
    };
    QCOMPARE(entries(), QStringLiteral("Com #1"));

    QVERIFY(QFile::link(second.slavePath(), two));
    form.Combo5->showPopup();
    form.Combo5->hidePopup();
    QCOMPARE(entries(), QStringLiteral("Com #1,Com #2"));
    QCOMPARE(form.Combo5->text(), QStringLiteral("Port"));
    QVERIFY(form.Combo5->itemData(1, Qt::ToolTipRole).toString().contains(second.slavePath()));

    // The selected entry stays when its device goes; Connect says it is not there.
    pick(form.Combo5, 0);
    QVERIFY(QFile::remove(one));
    QVERIFY(QFile::remove(two));
    form.Combo5->showPopup();
    form.Combo5->hidePopup();
    QCOMPARE(entries(), QStringLiteral("Com #1"));
    QCOMPARE(form.Combo5->listIndex(), 0);
    form.Command3->click();
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY2(dialogs.messages[0].text.contains(QLatin1String("beim Programmstart")),
             qPrintable(dialogs.allMessages()));
}

void TestPortDirectory::systemPortsComeFromSysfs()
{
    QTemporaryDir root;
    QDir r(root.path());
    const QString usb = QStringLiteral("sys/devices/usb1/1-1");
    r.mkpath(usb + QStringLiteral("/1-1:1.0/ttyUSB0"));
    r.mkpath(QStringLiteral("sys/devices/platform/serial8250/tty/ttyS0"));
    r.mkpath(QStringLiteral("sys/devices/platform/serial8250/tty/ttyS1"));
    for (const char* tty : {"ttyUSB0", "ttyS0", "ttyS1", "tty0"})
        r.mkpath(QStringLiteral("sys/class/tty/") + QLatin1String(tty));
    r.mkpath(QStringLiteral("dev/serial/by-id"));
    auto write = [&](const QString& path, const QByteArray& text) {
        QFile file(r.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text + "\n");
    };
    write(usb + QStringLiteral("/idVendor"), "1a86");
    write(usb + QStringLiteral("/idProduct"), "7523");
    write(usb + QStringLiteral("/product"), "USB Serial");
    write(usb + QStringLiteral("/serial"), "A50285BI");
    write(QStringLiteral("sys/class/tty/ttyS0/type"), "0");
    write(QStringLiteral("sys/class/tty/ttyS1/type"), "4");
    QVERIFY(QFile::link(r.filePath(usb + QStringLiteral("/1-1:1.0/ttyUSB0")),
                        r.filePath(QStringLiteral("sys/class/tty/ttyUSB0/device"))));
    QVERIFY(QFile::link(QStringLiteral("/sys/bus/usb-serial/drivers/ch341-uart"),
                        r.filePath(usb + QStringLiteral("/1-1:1.0/ttyUSB0/driver"))));
    for (const char* tty : {"ttyS0", "ttyS1"})
        QVERIFY(QFile::link(
            r.filePath(QStringLiteral("sys/devices/platform/serial8250/tty/") + QLatin1String(tty)),
            r.filePath(QStringLiteral("sys/class/tty/%1/device").arg(QLatin1String(tty)))));
    QVERIFY(QFile::link(QStringLiteral("../../ttyUSB0"),
                        r.filePath(QStringLiteral("dev/serial/by-id/usb-1a86_USB_Serial-if00-port0"))));

    QStringList found;
    for (const PortInfo& port : PortInfo::systemPorts(root.path()))
        found << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(port.device, port.description, port.serialNumber, port.driver, port.byIdName)
                     .simplified();
    found.sort();
    QCOMPARE(found, (QStringList{"/dev/ttyS1", "/dev/ttyUSB0 USB Serial A50285BI ch341-uart "
                                               "usb-1a86_USB_Serial-if00-port0"}));
}

QTEST_MAIN(TestPortDirectory)
#include "tst_portdirectory.moc"
