#include "testsupport.h"

#include "ui/combobox.h"
#include <QPushButton>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace morvandell::test {

void ScriptedDialogs::message(QWidget*, const QString& title, const QString& text, Icon icon)
{
    messages.append({title, text, icon});
    if (onMessage)
        onMessage(messages.last());
}

std::optional<QString> ScriptedDialogs::openFileName(QWidget*, const QString& title, const QString& folder,
                                                     const QString& filter)
{
    fileRequests.append({title, folder, filter});
    if (fileAnswers.isEmpty())
        return std::nullopt;
    return fileAnswers.takeFirst();
}

std::optional<QString> ScriptedDialogs::saveFileName(QWidget* parent, const QString& title,
                                                     const QString& path, const QString& filter)
{
    return openFileName(parent, title, path, filter);
}

std::optional<QString> ScriptedDialogs::textPrompt(QWidget*, const QString& title, const QString& label)
{
    prompts.append(title + QLatin1Char('|') + label);
    if (promptAnswers.isEmpty())
        return std::nullopt;
    return promptAnswers.takeFirst();
}

QObject* ScriptedDialogs::askWithoutBlocking(QWidget* parent, const QString&, const QString& text,
                                             std::function<void(bool yes)> answered)
{
    questions << text;
    m_question.handle = new QObject(parent);
    m_question.answered = std::move(answered);
    return m_question.handle;
}

bool ScriptedDialogs::answer(bool yes)
{
    if (!m_question.handle)
        return false;
    delete m_question.handle;
    const auto answered = std::move(m_question.answered);
    answered(yes);
    return true;
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

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios tio{};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    closeMaster();
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

QByteArray PtyPair::readMaster(int ms, int atLeast)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (m_master >= 0 && clock.elapsed() < ms && (atLeast < 0 || out.size() < atLeast)) {
        QCoreApplication::processEvents();
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                out.append(buf, n);
        }
    }
    return out;
}

bool PtyPair::writeMaster(const QByteArray& bytes)
{
    return m_master >= 0 && ::write(m_master, bytes.constData(), bytes.size()) == bytes.size();
}

std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, QString>& devices)
{
    QMap<int, PortDirectory::Entry> entries;
    for (auto it = devices.begin(); it != devices.end(); ++it)
        entries.insert(it.key(), {it.value(), QStringLiteral("test device")});
    return std::make_shared<const PortDirectory>(entries);
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

ControlRig::ControlRig(sim::SimulatorConfig config)
    : sim(std::move(config))
{
    QString error;
    if (!sim.start(&error))
        qFatal("simulator did not start: %s", qPrintable(error));
    form = std::make_unique<Form1>(directoryOf({{3, sim.devicePath()}}), &dialogs);
}

bool ControlRig::connect()
{
    const int index = form->Combo5->findText(QStringLiteral("Com #3"));
    if (index < 0)
        return false;
    pick(form->Combo5, index);
    form->Command3->click();
    return waitUntil([&] { return form->deviceFound == 1; }, 6000);
}

} // namespace morvandell::test
