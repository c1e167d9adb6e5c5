#include "testsupport.h"

#include "coresupport.h"

#include "updater/form2.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <unistd.h>

namespace morvandell::test {

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

class ScriptedQuestion final : public ui::Dialogs::Question
{
public:
    explicit ScriptedQuestion(std::shared_ptr<ScriptedDialogs::Open> open)
        : m_open(std::move(open))
    {}
    ~ScriptedQuestion() override { m_open->open = false; } // withdrawn

private:
    std::shared_ptr<ScriptedDialogs::Open> m_open;
};

} // namespace

void ScriptedDialogs::message(ui::FormView*, const std::string& title, const std::string& text, Icon icon)
{
    messages.append({q(title), q(text), icon});
    if (onMessage)
        onMessage(messages.last());
}

std::optional<std::string> ScriptedDialogs::openFileName(ui::FormView*, const std::string& title,
                                                         const std::string& folder, const std::string& filter)
{
    fileRequests.append({q(title), q(folder), q(filter)});
    if (fileAnswers.isEmpty())
        return std::nullopt;
    const std::optional<QString> answer = fileAnswers.takeFirst();
    if (!answer)
        return std::nullopt;
    return answer->toStdString();
}

std::optional<std::string> ScriptedDialogs::saveFileName(ui::FormView* owner, const std::string& title,
                                                         const std::string& path, const std::string& filter)
{
    return openFileName(owner, title, path, filter);
}

std::optional<std::string> ScriptedDialogs::textPrompt(ui::FormView*, const std::string& title,
                                                       const std::string& label)
{
    prompts.append(q(title) + QLatin1Char('|') + q(label));
    if (promptAnswers.isEmpty())
        return std::nullopt;
    const std::optional<QString> answer = promptAnswers.takeFirst();
    if (!answer)
        return std::nullopt;
    return answer->toStdString();
}

std::unique_ptr<ui::Dialogs::Question> ScriptedDialogs::askWithoutBlocking(ui::FormView*, const std::string&,
                                                                           const std::string& text,
                                                                           std::function<void(bool yes)> answered)
{
    questions << q(text);
    m_question = std::make_shared<Open>();
    m_question->open = true;
    m_question->answered = std::move(answered);
    return std::make_unique<ScriptedQuestion>(m_question);
}

bool ScriptedDialogs::answer(bool yes)
{
    if (!questionOpen())
        return false;
    const std::shared_ptr<Open> question = m_question;
    question->open = false;
    const auto answered = question->answered;
    answered(yes);
    return true;
}

bool ScriptedDialogs::questionOpen() const
{
    return m_question && m_question->open;
}

bool ScriptedDialogs::hasMessage(const QString& text) const
{
    for (const auto& m : messages)
        if (m.text.contains(text))
            return true;
    return false;
}

QString ScriptedDialogs::allMessages() const
{
    QStringList all;
    for (const auto& m : messages)
        all << QStringLiteral("[%1] %2").arg(m.title, m.text);
    return all.join(QLatin1String(" | "));
}

QtPty::QtPty()
    : m_pty(std::make_unique<PtyPair>())
{}

QtPty::~QtPty() = default;

bool QtPty::isValid() const
{
    return m_pty->isValid();
}

QString QtPty::slavePath() const
{
    return QString::fromStdString(m_pty->slavePath());
}

void QtPty::closeMaster()
{
    m_pty->closeMaster();
}

QByteArray QtPty::readMaster(int ms, int atLeast)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (m_pty->masterFd() >= 0 && clock.elapsed() < ms && (atLeast < 0 || out.size() < atLeast)) {
        QCoreApplication::processEvents();
        pollfd p{m_pty->masterFd(), POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(m_pty->masterFd(), buf, sizeof buf);
            if (n > 0)
                out.append(buf, n);
        }
    }
    return out;
}

bool QtPty::writeMaster(const QByteArray& data)
{
    return m_pty->writeMaster(Bytes(data.begin(), data.end()));
}

QByteArray qbytes(const Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

Bytes bytes(const QByteArray& b)
{
    return Bytes(b.begin(), b.end());
}

QList<QByteArray> qframes(const std::vector<Bytes>& frames)
{
    QList<QByteArray> out;
    for (const Bytes& f : frames)
        out << qbytes(f);
    return out;
}

std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, QString>& devices)
{
    QMap<int, PortDirectory::Entry> entries;
    for (auto it = devices.begin(); it != devices.end(); ++it)
        entries.insert(it.key(), {it.value().toStdString(), "test device", nullptr});
    return directoryOf(entries);
}

std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, PortDirectory::Entry>& entries)
{
    std::map<int, PortDirectory::Entry> map;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        map[it.key()] = it.value();
    return std::make_shared<const PortDirectory>(std::move(map));
}

bool waitUntil(const std::function<bool()>& pred, int ms)
{
    return QTest::qWaitFor(pred, ms);
}

QString writeTempFile(const QString& name, const QByteArray& bytes)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray identification(const QByteArray& firmware)
{
    QByteArray m("\x55\xFD\x00\x00", 4);
    m += firmware.leftJustified(16, '\0', true);
    m += "\r\n";
    return m;
}

void pick(ComboBox* list, int position)
{
    list->setCurrentIndex(position);
    emit list->activated(position);
}

QWidget* windowOf(ui::FormView& view)
{
    return ui::qt::QtFrontEnd::qtView(view).window();
}

QString text(const ui::FormView& view, const char* control)
{
    return q(view.text(control));
}

QString caption(const ui::FormView& view)
{
    return q(view.caption());
}

ComboBox* combo(Form1& form, const char* name)
{
    return control<ComboBox>(form, name);
}

ControlRig::ControlRig(sim::SimulatorConfig config, bool alsoAt14)
    : sim(std::move(config))
{
    std::string error;
    if (!sim.start(&error))
        qFatal("simulator did not start: %s", error.c_str());
    QMap<int, QString> ports{{3, devicePath()}};
    if (alsoAt14)
        ports.insert(14, devicePath());
    form = makeForm(directoryOf(ports));
}

ControlRig::~ControlRig()
{
    form.reset();
}

bool ControlRig::connect()
{
    ComboBox* ports = combo(*form, "Combo5");
    const int index = ports->findText(QStringLiteral("Com #3"));
    if (index < 0)
        return false;
    pick(ports, index);
    control<QPushButton>(*form, "Command3")->click();
    return waitUntil([&] { return form->deviceFound == 1; }, 6000);
}

Form2* ControlRig::openUpdateWindow()
{
    form->Command4_Click();
    return form->updateWindow();
}

} // namespace morvandell::test
