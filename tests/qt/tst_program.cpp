// The program's command line: what it answers without a window, and what it refuses.
#include <QProcess>
#include <QTest>

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("graphical"); // a (virtual) display to start on
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // part of what it prints (stdout, then stderr)
        QTest::newRow("--version") << QStringList{"--version"} << false << 0 << "morvandell " MORVANDELL_VERSION;
        QTest::newRow("--help") << QStringList{"--help"} << false << 0 << "--demo";
        QTest::newRow("no graphical session") << QStringList{} << false << 2 << "no graphical session";
        QTest::newRow("an unknown option") << QStringList{"--bogus"} << true << 1 << "unknown argument: --bogus";
        QTest::newRow("two profiles") << QStringList{"a.morvandell.json", "b.morvandell.json"} << true << 1
                                      << "unknown argument: b.morvandell.json";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, graphical);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (graphical)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(MORVANDELL_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(10000));
        const QString printed =
            QString::fromUtf8(program.readAllStandardOutput() + program.readAllStandardError());
        QCOMPARE(program.exitCode(), exitCode);
        QVERIFY2(printed.contains(output), qPrintable(printed));
    }
};

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
