// The udev rule for USB-serial adapters: a syntax error there makes udev skip the line silently, and the
// adapter stays root-only. Checked with udevadm verify where systemd has it, and always with a small parser
// of the keys and operators the rule uses.

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>

namespace {

constexpr int udevadmTimeLimitMs = 10000;

struct RuleItem
{
    QString key;
    QString attribute;
    QString op;
    QString value;
};

struct KeyRule
{
    const char* key;
    bool attribute;  // KEY{attribute} form
    const char* ops; // allowed operators, blank-separated
};

constexpr KeyRule knownKeys[] = {
    {"ACTION", false, "== !="},  {"SUBSYSTEM", false, "== !="},   {"SUBSYSTEMS", false, "== !="},
    {"KERNEL", false, "== !="},  {"ATTRS", true, "== !="},        {"ATTR", true, "== !="},
    {"ENV", true, "== != = +="}, {"TAG", false, "== != = += -="}, {"GROUP", false, "= :="},
    {"MODE", false, "= :="},
};

bool isMatch(const QString& op)
{
    return op == QLatin1String("==") || op == QLatin1String("!=");
}

// One rule line: comma-separated KEY{attr}OP"value" items, at least one match and one assignment.
bool parseRule(const QString& line, QList<RuleItem>* items, QString* error)
{
    static const QRegularExpression item(QStringLiteral(
        "\\s*([A-Z_]+)(?:\\{([A-Za-z0-9_]+)\\})?(==|!=|\\+=|-=|:=|=)\"([^\"\\\\]*)\"\\s*(,|$)"));
    items->clear();
    qsizetype pos = 0;
    while (pos < line.size()) {
        const QRegularExpressionMatch m = item.match(line, pos, QRegularExpression::NormalMatch,
                                                     QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch()) {
            *error = QStringLiteral("malformed item at column %1").arg(pos + 1);
            return false;
        }
        const RuleItem it{m.captured(1), m.captured(2), m.captured(3), m.captured(4)};
        const KeyRule* known = nullptr;
        for (const KeyRule& k : knownKeys) {
            if (it.key == QLatin1String(k.key))
                known = &k;
        }
        if (!known) {
            *error = QStringLiteral("unknown key %1").arg(it.key);
            return false;
        }
        if (known->attribute == it.attribute.isEmpty()) {
            *error =
                QStringLiteral("%1 %2 an attribute").arg(it.key, known->attribute ? "needs" : "takes no");
            return false;
        }
        if (!QString::fromLatin1(known->ops).split(QLatin1Char(' ')).contains(it.op)) {
            *error = QStringLiteral("operator %1 not allowed for %2").arg(it.op, it.key);
            return false;
        }
        items->append(it);
        pos = m.capturedEnd(0);
        if (m.captured(5) == QLatin1String(",") && pos == line.size()) {
            *error = QStringLiteral("trailing comma");
            return false;
        }
    }
    const bool matches =
        std::any_of(items->cbegin(), items->cend(), [](const RuleItem& i) { return isMatch(i.op); });
    const bool assigns =
        std::any_of(items->cbegin(), items->cend(), [](const RuleItem& i) { return !isMatch(i.op); });
    if (!matches || !assigns) {
        *error = QStringLiteral("a rule needs a match and an assignment");
        return false;
    }
    return true;
}

QStringList ruleLines()
{
    QFile file(QStringLiteral(MORVANDELL_UDEV_RULE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            lines.append(line);
    }
    return lines;
}

bool has(const QList<RuleItem>& items, const char* key, const char* attribute, const char* op,
         const char* value)
{
    return std::any_of(items.cbegin(), items.cend(), [&](const RuleItem& i) {
        return i.key == QLatin1String(key) && i.attribute == QLatin1String(attribute) &&
               i.op == QLatin1String(op) && i.value == QLatin1String(value);
    });
}

} // namespace

class TestUdevRule : public QObject
{
    Q_OBJECT

private slots:
    void parserTellsGoodFromBadLines_data();
    void parserTellsGoodFromBadLines();
    void everyLineOfTheRuleFileIsWellFormed();
    void adapterIsGivenToTheUserAndKeptFromModemManager_data();
    void adapterIsGivenToTheUserAndKeptFromModemManager();
    void udevadmVerifyAcceptsTheRuleFile();
};

void TestUdevRule::parserTellsGoodFromBadLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("good");

    QTest::newRow("good") << R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", TAG+="uaccess")" << true;
    QTest::newRow("no blanks") << R"(SUBSYSTEM=="tty",ENV{ID_MM_DEVICE_IGNORE}="1")" << true;
    QTest::newRow("unclosed quote") << R"(SUBSYSTEM=="tty", TAG+="uaccess)" << false;
    QTest::newRow("single quotes") << R"(SUBSYSTEM=='tty', TAG+="uaccess")" << false;
    QTest::newRow("missing comma") << R"(SUBSYSTEM=="tty" TAG+="uaccess")" << false;
    QTest::newRow("trailing comma") << R"(SUBSYSTEM=="tty", TAG+="uaccess",)" << false;
    QTest::newRow("unknown key") << R"(SUBSYSTEM=="tty", IDVENDOR=="0403", TAG+="uaccess")" << false;
    QTest::newRow("lower-case key") << R"(subsystem=="tty", TAG+="uaccess")" << false;
    QTest::newRow("assignment to a match key") << R"(SUBSYSTEM="tty", TAG+="uaccess")" << false;
    QTest::newRow("ATTRS without attribute") << R"(ATTRS=="0403", TAG+="uaccess")" << false;
    QTest::newRow("TAG with attribute") << R"(SUBSYSTEM=="tty", TAG{x}+="uaccess")" << false;
    QTest::newRow("match only") << R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403")" << false;
    QTest::newRow("assignment only") << R"(TAG+="uaccess")" << false;
}

void TestUdevRule::parserTellsGoodFromBadLines()
{
    QFETCH(QString, line);
    QFETCH(bool, good);
    QList<RuleItem> items;
    QString error;
    QVERIFY2(parseRule(line, &items, &error) == good, qPrintable(error));
}

void TestUdevRule::everyLineOfTheRuleFileIsWellFormed()
{
    // uaccess is applied by 73-seat-late.rules: the tag must be set before that file runs.
    QVERIFY(QFileInfo(QStringLiteral(MORVANDELL_UDEV_RULE)).fileName() < QLatin1String("73"));
    const QStringList lines = ruleLines();
    QVERIFY(!lines.isEmpty());
    for (const QString& line : lines) {
        QList<RuleItem> items;
        QString error;
        QVERIFY2(parseRule(line, &items, &error), qPrintable(error + QStringLiteral(": ") + line));
    }
}

void TestUdevRule::adapterIsGivenToTheUserAndKeptFromModemManager_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");

    QTest::newRow("FTDI FT232R") << "0403"
                                 << "6001";
    QTest::newRow("FTDI FT230X") << "0403"
                                 << "6015";
    QTest::newRow("CH340") << "1a86"
                           << "7523";
    QTest::newRow("CP210x") << "10c4"
                            << "ea60";
    QTest::newRow("PL2303") << "067b"
                            << "2303";
}

void TestUdevRule::adapterIsGivenToTheUserAndKeptFromModemManager()
{
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    const QByteArray v = vendor.toLatin1();
    const QByteArray p = product.toLatin1();
    bool covered = false;
    for (const QString& line : ruleLines()) {
        QList<RuleItem> items;
        QString error;
        if (parseRule(line, &items, &error) && has(items, "SUBSYSTEM", "", "==", "tty") &&
            has(items, "ATTRS", "idVendor", "==", v.constData()) &&
            has(items, "ATTRS", "idProduct", "==", p.constData()) && has(items, "TAG", "", "+=", "uaccess") &&
            has(items, "ENV", "ID_MM_DEVICE_IGNORE", "=", "1"))
            covered = true;
    }
    QVERIFY(covered);
}

void TestUdevRule::udevadmVerifyAcceptsTheRuleFile()
{
    const QString udevadm = QStandardPaths::findExecutable(QStringLiteral("udevadm"));
    QProcess probe;
    if (!udevadm.isEmpty())
        probe.start(udevadm, {QStringLiteral("verify"), QStringLiteral("--help")});
    if (udevadm.isEmpty() || !probe.waitForFinished(udevadmTimeLimitMs) || probe.exitCode() != 0)
        QSKIP("this systemd's udevadm has no verify command");
    QProcess verify;
    verify.start(udevadm, {QStringLiteral("verify"), QStringLiteral(MORVANDELL_UDEV_RULE)});
    QVERIFY(verify.waitForFinished(udevadmTimeLimitMs));
    QVERIFY2(verify.exitStatus() == QProcess::NormalExit && verify.exitCode() == 0,
             verify.readAllStandardError().constData());
}

QTEST_GUILESS_MAIN(TestUdevRule)
#include "tst_udevrule.moc"
