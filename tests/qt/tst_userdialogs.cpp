// The real file-open dialog: its filter text stays as given, and it still shows files whose extension
// differs only in letter case (case-sensitive file systems).
#include "ui/qt/qtdialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace morvandell;

class TestUserDialogs : public QObject
{
    Q_OBJECT
private slots:
    void filterIgnoresLetterCase_data();
    void filterIgnoresLetterCase();
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

QTEST_MAIN(TestUserDialogs)
#include "tst_userdialogs.moc"
