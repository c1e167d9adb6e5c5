// The control window after a write: a record that the display reports stored otherwise than sent is
// told in one message; a verified write, or one answered by text, says nothing more than before.
#include "control/form1.h"
#include "testsupport.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

namespace {

const char* const Hint = "\n\nBitte erneut schreiben. Bleibt die Abweichung, das Verbindungsprotokoll speichern "
                         "(Rechtsklick auf das Protokoll) und dem Support schicken.";

} // namespace

class TestVerifiedWrites : public QObject
{
    Q_OBJECT

private slots:
    void aWriteTellsEveryRecordStoredOtherwise_data();
    void aWriteTellsEveryRecordStoredOtherwise();
};

void TestVerifiedWrites::aWriteTellsEveryRecordStoredOtherwise_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("reports");   // the display answers with EEPROM read reports
    QTest::addColumn<int>("wrongRecord"); // the record address it stores otherwise, -1 none
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("message"); // empty: none

    const QString intro = QStringLiteral("Das Display hat nicht gespeichert, was gesendet wurde:\n\n");
    QTest::newRow("Daten schreiben, every record verified") << "Command2" << true << -1 << 9 << QString();
    QTest::newRow("Daten schreiben, answered by text") << "Command2" << false << 0x30 << 9 << QString();
    QTest::newRow("Daten schreiben, slot 3 stored otherwise")
        << "Command2" << true << 0x30 << 9
        << intro + QStringLiteral("Platz 3\n"
                                  "gesendet: Name „        “, Kanal 0, Teiler 0, Einheit „   “\n"
                                  "gespeichert: Name „!       “, Kanal 0, Teiler 0, Einheit „   “") +
               Hint;
    QTest::newRow("Einstellungen schreiben, stored otherwise")
        << "Command6" << true << 0x90 << 1
        << intro + QStringLiteral("Einstellungen\ngesendet: Standardansicht 1\ngespeichert: Standardansicht 2") + Hint;
}

void TestVerifiedWrites::aWriteTellsEveryRecordStoredOtherwise()
{
    QFETCH(QString, button);
    QFETCH(bool, reports);
    QFETCH(int, wrongRecord);
    QFETCH(int, frames);
    QFETCH(QString, message);
    SimulatorConfig config;
    if (reports)
        config.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    config.wrongRecordAddress = wrongRecord;
    ControlRig rig(config);
    QVERIFY(rig.connect());
    auto* list = control<QListWidget>(*rig.form, "List1");
    const int logged = list->count();

    control<QPushButton>(*rig.form, button.toLatin1().constData())->click();

    // The write is not stopped by a difference: the display answered every frame.
    QCOMPARE(int(rig.display().receivedFrames().size()), 1 + frames);
    QCOMPARE(list->count(), logged + frames);
    // The log shows the answers as it always did.
    QVERIFY(list->item(0)->text().endsWith(reports ? QStringLiteral("->  ReadEEProm @ 0x90")
                                                   : QStringLiteral(" -> OK")));
    if (message.isEmpty()) {
        QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        return;
    }
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, message);
    QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Error"));
    QCOMPARE(rig.dialogs.messages[0].icon, Icon::Error);
}

QTEST_MAIN(TestVerifiedWrites)
#include "tst_verifiedwrites.moc"
