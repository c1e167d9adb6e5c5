// The control window's profiles: saving the current choices, loading them back, loading one at start.
// The file format itself is writer/profile.
#include "control/form1.h"

#include "platform/files.h"
#include "platform/text.h"
#include "writer/framebuilder.h"
#include "writer/profile.h"

namespace morvandell {

namespace {

std::string slotText(int slot, const std::string& channel)
{
    return text::arg("Slot %1 \"%2\"", {slot, channel});
}

} // namespace

DisplayConfiguration Form1::profileConfiguration() const
{
    DisplayConfiguration c;
    if (m_profileLogDefinition)
        c.logDefinition = *m_profileLogDefinition;
    else if (m_lastLogDefinition)
        c.logDefinition = files::absolutePath(*m_lastLogDefinition);
    c.defaultView = defaultViewByte();
    for (int k = 1; k <= SlotCount; ++k) {
        const std::size_t i = std::size_t(k);
        SlotSetting setting{m_pickedChannel[i].value_or(std::string()), slotChannel[i], slotDivider[i],
                            m_view->text(slotRows()[i].name), m_view->text(slotRows()[i].unit)};
        // Every slot that would not go out as a never-picked one does: picked, or a name or unit
        // typed into its boxes.
        if (!m_pickedChannel[i] && FrameBuilder::slotFrame(k, setting.name, setting.number, setting.divider,
                                                           setting.unit) == FrameBuilder::slotFrame(k, "", 0, 0, ""))
            continue;
        // Loading matches the channel by name in these lists. Where that would find an entry with other
        // numbers (a pick from an earlier file, or the second of two entries of one name), the name is
        // left out, so that the profile's own numbers are used again.
        if (const int position = profileEntry(k, setting); position >= 0) {
            const auto index = std::size_t(m_slotEntries[i][std::size_t(position)]);
            if (catalogueNumber[index] != setting.number || catalogueDivider[index] != setting.divider)
                setting.channel.clear();
        }
        Profile::slot(c, k) = setting;
    }
    return c;
}

int Form1::profileEntry(int slot, const SlotSetting& setting) const
{
    if (setting.channel.empty())
        return -1;
    const char* list = slotRows()[std::size_t(slot)].list;
    const std::vector<int>& entries = m_slotEntries[std::size_t(slot)];
    int first = -1;
    for (int p = 0; p < m_view->itemCount(list) && p < int(entries.size()); ++p) {
        if (m_view->itemText(list, p) != setting.channel)
            continue;
        const int index = entries[std::size_t(p)];
        if (index >= 0 && index <= Catalogue::LastIndex && catalogueNumber[std::size_t(index)] == setting.number &&
            catalogueDivider[std::size_t(index)] == setting.divider)
            return p;
        if (first < 0)
            first = p;
    }
    return first;
}

void Form1::saveProfileClicked()
{
    const std::string folder = m_profileFolder.empty() ? files::homeFolder() : m_profileFolder;
    const auto chosen = m_frontEnd.dialogs().saveFileName(m_view.get(), "Profil speichern", folder,
                                                          Profile::fileFilter());
    if (chosen && !chosen->empty())
        saveProfile(*chosen);
}

void Form1::loadProfileClicked()
{
    const std::string folder = m_profileFolder.empty() ? files::homeFolder() : m_profileFolder;
    const auto chosen =
        m_frontEnd.dialogs().openFileName(m_view.get(), "Profil laden", folder, Profile::fileFilter());
    if (chosen && !chosen->empty())
        loadProfile(*chosen);
}

bool Form1::openProfileAtStart(const std::string& path)
{
    return loadProfile(path);
}

bool Form1::saveProfile(const std::string& path)
{
    std::string error;
    if (!Profile::save(path, profileConfiguration(), &error)) {
        showError(error);
        return false;
    }
    m_profileFolder = files::parentPath(files::absolutePath(path));
    logAtTop("Profil gespeichert: " + files::fileName(path));
    return true;
}

bool Form1::loadProfile(const std::string& path)
{
    std::string error;
    const std::optional<DisplayConfiguration> profile = Profile::load(path, &error);
    if (!profile) {
        showError(error);
        return false;
    }
    m_profileFolder = files::parentPath(files::absolutePath(path));

    // The channels are looked up in the profile's log-definition file when there is one to read;
    // otherwise the profile's own numbers are used.
    const std::string logDefinition = profile->logDefinition;
    std::string whyUnmatched;
    bool listsFromFile = false;
    if (logDefinition.empty()) {
        whyUnmatched = "Das Profil nennt keine Log-Definitionsdatei.";
    } else if (!files::isRegularFile(logDefinition)) {
        whyUnmatched = text::arg("Die Log-Definitionsdatei %1 gibt es nicht.", {logDefinition});
    } else {
        bool errorShown = false;
        listsFromFile = readLogDefinition(logDefinition, &errorShown) && !errorShown;
        whyUnmatched = listsFromFile
                           ? text::arg("Diese Kanäle fehlen in %1.", {logDefinition})
                           : text::arg("Die Log-Definitionsdatei %1 konnte nicht gelesen werden.", {logDefinition});
    }

    std::vector<std::string> changed;
    std::vector<std::string> unmatched;
    for (int k = 1; k <= SlotCount; ++k) {
        const std::size_t i = std::size_t(k);
        const SlotRow& row = slotRows()[i];
        const std::optional<SlotSetting>& setting = Profile::slot(*profile, k);
        if (!setting || setting->channel.empty()) {
            // Not in the profile: as after start-up, never picked. Without a channel: never picked,
            // with the profile's boxes and numbers.
            const SlotSetting values = setting.value_or(SlotSetting{});
            m_view->setListIndex(row.list, -1);
            m_view->setText(row.list, "Bitte wählen...");
            m_view->setText(row.name, values.name);
            m_view->setText(row.unit, values.unit);
            slotChannel[i] = values.number;
            slotDivider[i] = values.divider;
            m_pickedChannel[i].reset();
            continue;
        }
        const int position = listsFromFile ? profileEntry(k, *setting) : -1;
        if (position >= 0) {
            m_view->setListIndex(row.list, position);
            slotList_Click(k); // as if the user had picked the entry: number and divider from the file
            if (slotChannel[i] != setting->number || slotDivider[i] != setting->divider)
                changed.push_back(slotText(k, setting->channel) +
                                  text::arg(": Kanalnummer %1 → %2, Teiler %3 → %4",
                                            {setting->number, slotChannel[i], setting->divider, slotDivider[i]}));
        } else {
            m_view->setListIndex(row.list, -1);
            m_view->setText(row.list, setting->channel);
            slotChannel[i] = setting->number;
            slotDivider[i] = setting->divider;
            unmatched.push_back(slotText(k, setting->channel));
        }
        m_pickedChannel[i] = setting->channel;
        m_view->setText(row.name, setting->name);
        m_view->setText(row.unit, setting->unit);
    }
    m_view->setListIndex("Combo10", int(profile->defaultView) - 1);
    if (profile->defaultView == 0)
        m_view->setText("Combo10", "");
    m_profileLogDefinition = logDefinition;
    // As if chosen in Command1's dialog: a Cancel there reads the profile's file again, not an older one.
    if (!logDefinition.empty())
        m_lastLogDefinition = logDefinition;
    logAtTop("Profil geladen: " + files::fileName(path));

    std::vector<std::string> notes;
    if (!changed.empty())
        notes.push_back("Die Log-Definitionsdatei weicht vom Profil ab (neue ECU-Firmware?). "
                        "Verwendet werden die Werte der Datei:\n" +
                        text::join(changed, "\n"));
    if (!unmatched.empty())
        notes.push_back(whyUnmatched + " Nicht zugeordnet, verwendet werden die Werte des Profils:\n" +
                        text::join(unmatched, "\n"));
    if (!notes.empty())
        m_frontEnd.dialogs().message(m_view.get(), "Warnung", text::join(notes, "\n\n"),
                                     ui::Dialogs::Icon::Warning);
    return true;
}

} // namespace morvandell
