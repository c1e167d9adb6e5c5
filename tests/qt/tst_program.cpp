// The program's command line: what it answers without a window, and what it refuses. Its help: F1 in
// either window asks the desktop (xdg-open, here one that writes down what it was asked) to open the
// user guide of the user's language, or says where the guide is missing. Runs on a virtual X display:
// Qt's offscreen platform opens no documents.
#include "testsupport.h"

#include "platform/files.h"
#include "ui/model/userguide.h"
#include "updater/form2.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace morvandell;
using namespace morvandell::test;

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

    void initTestCase()
    {
        QVERIFY(m_bin.isValid());
        QFile script(m_bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.log\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", (m_bin.path() + QLatin1Char(':')).toLocal8Bit() + qgetenv("PATH"));
    }

    void helpOpensTheGuide_data()
    {
        QTest::addColumn<bool>("updateWindow");
        QTest::addColumn<QByteArray>("locale"); // LC_ALL
        QTest::addColumn<bool>("present");      // the guide in this program's build-tree place
        QTest::addColumn<QString>("opened");    // the page xdg-open is given; empty: none, a message
        QTest::newRow("control window, German") << false << QByteArray("de_DE.UTF-8") << true << "index.html";
        QTest::newRow("control window, English") << false << QByteArray("en_GB.UTF-8") << true << "en.html";
        QTest::newRow("update window, German") << true << QByteArray("de_AT.UTF-8") << true << "index.html";
        QTest::newRow("update window, C locale") << true << QByteArray("C.UTF-8") << true << "en.html";
        QTest::newRow("control window, guide missing") << false << QByteArray("de_DE.UTF-8") << false << "";
        QTest::newRow("update window, guide missing") << true << QByteArray("de_DE.UTF-8") << false << "";
    }
    void helpOpensTheGuide()
    {
        QFETCH(bool, updateWindow);
        QFETCH(QByteArray, locale);
        QFETCH(bool, present);
        QFETCH(QString, opened);
        // A test program in build/tests/qt stands for the program in build/app: its guide is ../docs/handbuch.
        const std::vector<std::string> folders = ui::userguide::folders(files::programFolder());
        QDir guide(QString::fromStdString(folders.back()));
        guide.removeRecursively();
        if (present) {
            QVERIFY(guide.mkpath(QStringLiteral(".")));
            for (const char* page : {ui::userguide::GermanPage, ui::userguide::EnglishPage}) {
                QFile file(guide.filePath(QLatin1String(page)));
                QVERIFY(file.open(QIODevice::WriteOnly));
            }
        }
        QFile log(m_bin.filePath(QStringLiteral("xdg-open.log")));
        log.remove();
        const QByteArray before = qgetenv("LC_ALL");
        qputenv("LC_ALL", locale);

        Windows w;
        const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
        ui::FormView* view = &form->view();
        if (updateWindow) {
            form->Command4_Click(); // Firmwareupdate: the port prompt is cancelled
            view = &form->updateWindow()->view();
        }
        QWidget* window = windowOf(*view);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_F1);
        qputenv("LC_ALL", before);

        if (opened.isEmpty()) {
            QCOMPARE(w.dialogs.messages.size(), size_t(1));
            QCOMPARE(w.dialogs.messages[0].title, std::string("Hilfe"));
            const QString expected = QStringLiteral("Das Benutzerhandbuch fehlt: %1/index.html gibt es nicht.")
                                         .arg(QString::fromStdString(folders.front()));
            const QString shown = QString::fromStdString(w.dialogs.messages[0].text);
            QVERIFY2(shown.startsWith(expected), qPrintable(shown));
            QVERIFY(!log.exists());
        } else {
            QVERIFY2(w.dialogs.messages.empty(), w.dialogs.allMessages().c_str());
            QVERIFY(waitUntil([&] { return log.exists() && log.size() > 0; }, 10000));
            QVERIFY(log.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(log.readAll()).trimmed(),
                     QUrl::fromLocalFile(guide.filePath(opened)).toString(QUrl::FullyEncoded));
        }
        guide.removeRecursively();
    }

private:
    QTemporaryDir m_bin;
};

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
