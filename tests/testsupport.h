#pragma once

#include "control/form1.h"
#include "serial/portdirectory.h"
#include "simulator/displaysimulator.h"
#include "ui/userdialogs.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace morvandell::test {

// Answers the windows' modal questions from a script and records every message box.
class ScriptedDialogs : public UserDialogs
{
public:
    struct Message
    {
        QString title;
        QString text;
        Icon icon;
    };
    struct FileRequest
    {
        QString title;
        QString folder;
        QString filter;
    };

    void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override;
    std::optional<QString> openFileName(QWidget* parent, const QString& title, const QString& folder,
                                        const QString& filter) override;
    std::optional<QString> textPrompt(QWidget* parent, const QString& title, const QString& label) override;
    // Answered from fileAnswers, like openFileName.
    std::optional<QString> saveFileName(QWidget* parent, const QString& title, const QString& path,
                                        const QString& filter) override;
    // Records the question and leaves it open; the test answers it later with answer().
    QObject* askWithoutBlocking(QWidget* parent, const QString& title, const QString& text,
                                std::function<void(bool yes)> answered) override;
    // Answers the last question if it is still open (not withdrawn). False when none is open.
    bool answer(bool yes);
    bool questionOpen() const { return m_question.handle; }

    QList<Message> messages;
    QList<FileRequest> fileRequests;
    QList<std::optional<QString>> fileAnswers;   // consumed in order; empty list answers Cancel
    QList<std::optional<QString>> promptAnswers; // consumed in order; empty list answers Cancel
    QStringList prompts;                         // "title|label" of every prompt shown
    QStringList questions;                       // text of every non-blocking question asked
    // Runs while a message box would be open (the box is modal: events still run under it).
    std::function<void(const Message&)> onMessage;

    bool hasMessage(const QString& text) const;
    QString allMessages() const;

private:
    struct OpenQuestion
    {
        QPointer<QObject> handle;
        std::function<void(bool)> answered;
    } m_question;
};

// A bare pseudo-terminal pair: the test holds the master, the code under test opens slavePath().
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // Reads what arrived at the master within ms (stops early once `atLeast` bytes are there).
    QByteArray readMaster(int ms, int atLeast = -1);
    bool writeMaster(const QByteArray& bytes);
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the tool's closes never hang up the master
    QString m_slavePath;
};

// A port directory with the given numbers mapped to devices.
std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, QString>& devices);

// Processes events until pred() holds or ms run out.
bool waitUntil(const std::function<bool()>& pred, int ms);

// Writes bytes into a fresh file in a temporary folder that lives as long as the test process.
QString writeTempFile(const QString& name, const QByteArray& bytes);

// Hex text ("55 01 00") to bytes.
QByteArray hex(const char* text);

// A display's identification message with the given firmware text.
QByteArray identification(const QByteArray& firmware);

// What a user's pick in a drop-down list does: the entry becomes current, then activated is raised.
void pick(ComboBox* list, int position);

// A control window wired to a simulated display at port 3 (the simulator runs in its own thread).
struct ControlRig
{
    explicit ControlRig(sim::SimulatorConfig config = {});
    // Picks "Com #3", presses Connect and waits for the identification.
    bool connect();
    sim::DisplaySimulator& display() const { return *sim.simulator(); }

    ScriptedDialogs dialogs;
    sim::SimulatorThread sim;
    std::unique_ptr<Form1> form;
};

} // namespace morvandell::test
