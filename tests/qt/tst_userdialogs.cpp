// The real dialogs: the file-open dialog's filter text stays as given, and it still shows files whose
// extension differs only in letter case (case-sensitive file systems); the question that does not block
// answers from the event loop, and an answer once given counts.
#include "ui/qt/qtdialogs.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QMessageBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace morvandell;

class TestUserDialogs : public QObject
{
    Q_OBJECT
private slots:
    void filterIgnoresLetterCase_data();
    void filterIgnoresLetterCase();
    void aQuestionAnswersFromTheLoopAndAGivenAnswerCounts_data();
    void aQuestionAnswersFromTheLoopAndAGivenAnswerCounts();
};

void TestUserDialogs::filterIgnoresLetterCase_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("log definitions") << "XML Files (*.XML)" << QStringList{"B.XML", "a.xml", "c.Xml"};
    QTest::newRow("firmware images") << "Binary Files (*.bin)" << QStringList{"d.bin", "E.BIN"};
}

void TestUserDialogs::filterIgnoresLetterCase()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, shown);
    QTemporaryDir dir;
    for (const char* name : {"a.xml", "B.XML", "c.Xml", "d.bin", "E.BIN", "f.txt"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QStringList seen;
    QString shownFilter;
    QTimer poll;
    int tries = 0;
    connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto* model = dialog->findChild<QFileSystemModel*>();
        const QModelIndex root = model->index(dir.path());
        if (model->canFetchMore(root))
            model->fetchMore(root);
        QStringList names;
        for (int r = 0; r < model->rowCount(root); ++r) {
            const QModelIndex i = model->index(r, 0, root);
            // Files the filter rejects are either hidden or shown disabled.
            if (!model->isDir(i) && (model->flags(i) & Qt::ItemIsEnabled))
                names << model->fileName(i);
        }
        if ((names.size() == shown.size()) || ++tries > 100) {
            seen = names;
            shownFilter = dialog->selectedNameFilter();
            dialog->reject();
        }
    });
    poll.start(20);
    ui::qt::QtDialogs dialogs;
    const auto answer = dialogs.openFileName(nullptr, "Open", dir.path().toStdString(), filter.toStdString());
    QVERIFY(!answer);
    seen.sort(Qt::CaseInsensitive);
    shown.sort(Qt::CaseInsensitive);
    QCOMPARE(seen, shown);
    QCOMPARE(shownFilter, filter);
}

void TestUserDialogs::aQuestionAnswersFromTheLoopAndAGivenAnswerCounts_data()
{
    QTest::addColumn<QString>("button"); // empty: none pressed
    QTest::addColumn<bool>("withdrawn"); // the asker lets go (its work ended) right after
    QTest::addColumn<std::optional<bool>>("answer");
    QTest::newRow("Ja") << "Ja" << false << std::optional<bool>(true);
    QTest::newRow("Ja, then withdrawn") << "Ja" << true << std::optional<bool>(true);
    QTest::newRow("Nein, then withdrawn") << "Nein" << true << std::optional<bool>(false);
    QTest::newRow("withdrawn unanswered") << QString() << true << std::optional<bool>();
}

void TestUserDialogs::aQuestionAnswersFromTheLoopAndAGivenAnswerCounts()
{
    QFETCH(QString, button);
    QFETCH(bool, withdrawn);
    QFETCH(std::optional<bool>, answer);
    ui::qt::QtDialogs dialogs;
    std::optional<bool> got;
    int answers = 0;
    auto question = dialogs.askWithoutBlocking(nullptr, "Firmwareupdate", "Update beenden?", [&](bool yes) {
        got = yes;
        ++answers;
    });
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
            box = b;
    QVERIFY(box);
    if (!button.isEmpty()) {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button)
                b->click();
        QVERIFY2(!got, "an answer from inside the click");
    }
    if (withdrawn)
        question.reset();
    QTest::qWait(100); // the event loop runs
    QCOMPARE(got, answer);
    QCOMPARE(answers, answer ? 1 : 0);
}

QTEST_MAIN(TestUserDialogs)
#include "tst_userdialogs.moc"
