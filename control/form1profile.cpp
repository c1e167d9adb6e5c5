// The control window's profiles: saving the current choices, loading them back, the shortcuts and the
// window's context menu. The file format itself is writer/profile.
#include "control/form1.h"

#include "ui/combobox.h"
#include "ui/userdialogs.h"
#include "writer/profile.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace morvandell {

namespace {

// Answers Command1's file question with one given file and passes everything else on, so that a
// profile's log-definition file is read exactly as Command1 reads a file the user picked.
class FileAnswer : public UserDialogs
{
public:
    FileAnswer(UserDialogs& real, QString file)
        : m_real(real)
        , m_file(std::move(file))
    {}

    bool errorShown = false;

    void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override
    {
        errorShown = errorShown || icon == Icon::Error;
        m_real.message(parent, title, text, icon);
    }
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        return m_file;
    }
    std::optional<QString> saveFileName(QWidget* parent, const QString& title, const QString& folder,
                                        const QString& filter) override
    {
        return m_real.saveFileName(parent, title, folder, filter);
    }
    std::optional<QString> textPrompt(QWidget* parent, const QString& title, const QString& label) override
    {
        return m_real.textPrompt(parent, title, label);
    }

private:
    UserDialogs& m_real;
    QString m_file;
};

QString slotText(int slot, const QString& channel)
{
    return QStringLiteral("Slot %1 \"%2\"").arg(slot).arg(channel);
}

} // namespace

void Form1::setUpProfiles()
{
    saveProfileAction = new QAction(QStringLiteral("Profil speichern…"), this);
    saveProfileAction->setObjectName(QStringLiteral("saveProfileAction"));
    saveProfileAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    loadProfileAction = new QAction(QStringLiteral("Profil laden…"), this);
    loadProfileAction->setObjectName(QStringLiteral("loadProfileAction"));
    loadProfileAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    for (QAction* action : {saveProfileAction, loadProfileAction}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(saveProfileAction, &QAction::triggered, this, &Form1::saveProfileClicked);
    connect(loadProfileAction, &QAction::triggered, this, &Form1::loadProfileClicked);
    // A file dialog opened during a reply wait would hold the wait up; a load would change the slots
    // under a running write.
    connect(&replyWait, &EventWait::waitingChanged, this, [this](bool waiting) {
        saveProfileAction->setEnabled(!waiting);
        loadProfileAction->setEnabled(!waiting);
    });

    // Remember the name of every pick; a profile keeps only the slots that were picked.
    for (int k = 1; k <= SlotCount; ++k) {
        connect(slotRows[k].list, &ComboBox::clicked, this, [this, k] {
            ComboBox* list = slotRows[k].list;
            m_pickedChannel[k] = list->listIndex() >= 0 ? list->itemText(list->listIndex()) : list->text();
        });
    }
    // Once Command1 has run, the file it read is the one a profile names.
    connect(Command1, &QPushButton::clicked, this, [this] { m_profileLogDefinition.reset(); });
}

void Form1::contextMenuEvent(QContextMenuEvent* event)
{
    // Not modal: a menu's own event loop would hold up a reply wait underneath.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(saveProfileAction);
    menu->addAction(loadProfileAction);
    menu->popup(event->globalPos());
    event->accept();
}

DisplayConfiguration Form1::profileConfiguration() const
{
    DisplayConfiguration c;
    if (m_profileLogDefinition)
        c.logDefinition = *m_profileLogDefinition;
    else if (m_lastLogDefinition)
        c.logDefinition = QFileInfo(*m_lastLogDefinition).absoluteFilePath();
    c.defaultView = defaultViewByte();
    for (int k = 1; k <= SlotCount; ++k) {
        if (m_pickedChannel[k])
            Profile::slot(c, k) = SlotSetting{*m_pickedChannel[k], slotChannel[k], slotDivider[k],
                                              slotRows[k].name->text(), slotRows[k].unit->text()};
    }
    return c;
}

void Form1::saveProfileClicked()
{
    const QString folder = m_profileFolder.isEmpty() ? QDir::homePath() : m_profileFolder;
    const auto chosen =
        m_dialogs->saveFileName(this, QStringLiteral("Profil speichern"), folder, Profile::fileFilter());
    if (chosen && !chosen->isEmpty())
        saveProfile(*chosen);
}

void Form1::loadProfileClicked()
{
    const QString folder = m_profileFolder.isEmpty() ? QDir::homePath() : m_profileFolder;
    const auto chosen =
        m_dialogs->openFileName(this, QStringLiteral("Profil laden"), folder, Profile::fileFilter());
    if (chosen && !chosen->isEmpty())
        loadProfile(*chosen);
}

bool Form1::saveProfile(const QString& path)
{
    QString error;
    if (!Profile::save(path, profileConfiguration(), &error)) {
        m_dialogs->message(this, QStringLiteral("Error"), error, UserDialogs::Icon::Error);
        return false;
    }
    m_profileFolder = QFileInfo(path).absolutePath();
    logAtTop(QStringLiteral("Profil gespeichert: ") + QFileInfo(path).fileName());
    return true;
}

bool Form1::readLogDefinitionForProfile(const QString& path)
{
    FileAnswer answer(*m_dialogs, path);
    UserDialogs* const real = m_dialogs;
    m_dialogs = &answer;
    Command1_Click();
    m_dialogs = real;
    return !answer.errorShown;
}

bool Form1::loadProfile(const QString& path)
{
    QString error;
    const std::optional<DisplayConfiguration> profile = Profile::load(path, &error);
    if (!profile) {
        m_dialogs->message(this, QStringLiteral("Error"), error, UserDialogs::Icon::Error);
        return false;
    }
    m_profileFolder = QFileInfo(path).absolutePath();

    // The channels are looked up in the profile's log-definition file when there is one to read;
    // otherwise the profile's own numbers are used.
    const QString logDefinition = profile->logDefinition;
    QString whyUnmatched;
    bool listsFromFile = false;
    if (logDefinition.isEmpty())
        whyUnmatched = QStringLiteral("Das Profil nennt keine Log-Definitionsdatei.");
    else if (!QFileInfo(logDefinition).isFile())
        whyUnmatched = QStringLiteral("Die Log-Definitionsdatei %1 gibt es nicht.").arg(logDefinition);
    else if (!(listsFromFile = readLogDefinitionForProfile(logDefinition)))
        whyUnmatched =
            QStringLiteral("Die Log-Definitionsdatei %1 konnte nicht gelesen werden.").arg(logDefinition);
    else
        whyUnmatched = QStringLiteral("Diese Kanäle fehlen in %1.").arg(logDefinition);

    QStringList changed;
    QStringList unmatched;
    for (int k = 1; k <= SlotCount; ++k) {
        SlotRow& row = slotRows[k];
        const std::optional<SlotSetting>& setting = Profile::slot(*profile, k);
        if (!setting) {
            // Not in the profile: as after start-up, never picked.
            row.list->setListIndex(-1);
            row.list->setText(QStringLiteral("Bitte wählen..."));
            row.name->clear();
            row.unit->clear();
            slotChannel[k] = 0;
            slotDivider[k] = 0;
            m_pickedChannel[k].reset();
            continue;
        }
        const int position =
            listsFromFile ? row.list->findText(setting->channel, Qt::MatchExactly | Qt::MatchCaseSensitive)
                          : -1;
        if (position >= 0) {
            row.list->setListIndex(position);
            slotList_Click(k); // as if the user had picked the entry: number and divider from the file
            if (slotChannel[k] != setting->number || slotDivider[k] != setting->divider)
                changed << slotText(k, setting->channel) +
                               QStringLiteral(": Kanalnummer %1 → %2, Teiler %3 → %4")
                                   .arg(setting->number)
                                   .arg(slotChannel[k])
                                   .arg(setting->divider)
                                   .arg(slotDivider[k]);
        } else {
            row.list->setListIndex(-1);
            row.list->setText(setting->channel);
            slotChannel[k] = setting->number;
            slotDivider[k] = setting->divider;
            if (!setting->channel.isEmpty()) // a pick without an entry has no name to look up
                unmatched << slotText(k, setting->channel);
        }
        m_pickedChannel[k] = setting->channel;
        row.name->setText(setting->name);
        row.unit->setText(setting->unit);
    }
    Combo10->setListIndex(profile->defaultView - 1);
    if (profile->defaultView == 0)
        Combo10->setText(QString());
    m_profileLogDefinition = logDefinition;
    logAtTop(QStringLiteral("Profil geladen: ") + QFileInfo(path).fileName());

    QStringList notes;
    if (!changed.isEmpty())
        notes << QStringLiteral("Die Log-Definitionsdatei weicht vom Profil ab (neue ECU-Firmware?). "
                                "Verwendet werden die Werte der Datei:\n") +
                     changed.join(QLatin1Char('\n'));
    if (!unmatched.isEmpty())
        notes << whyUnmatched +
                     QStringLiteral(" Nicht zugeordnet, verwendet werden die Werte des Profils:\n") +
                     unmatched.join(QLatin1Char('\n'));
    if (!notes.isEmpty())
        m_dialogs->message(this, QStringLiteral("Warnung"), notes.join(QStringLiteral("\n\n")),
                           UserDialogs::Icon::Warning);
    return true;
}

} // namespace morvandell
