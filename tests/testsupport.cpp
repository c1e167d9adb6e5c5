#include "testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

std::optional<QString> ScriptedDialogs::textPrompt(QWidget*, const QString& title, const QString& label)
{
    prompts.append(title + QLatin1Char('|') + label);
    if (promptAnswers.isEmpty())
        return std::nullopt;
    return promptAnswers.takeFirst();
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

} // namespace morvandell::test
