// Profiles through the control window: a refused profile changes nothing on the window, a saved and
// loaded profile sends the same frames, channels are matched by name, the window's menu, a profile given
// at start. The profile reader and writer themselves are tested in tests/core/profile_test.cpp.
#include "formtest.h"

#include "platform/files.h"
#include "platform/text.h"
#include "ui/model/userguide.h"
#include "writer/profile.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

using namespace morvandell;
using namespace morvandell::test;

namespace {

const std::string ValidProfile =
    R"({"format": "morvandell-profile", "version": 1, "logDefinition": "/ecu/V3.xml",
 "defaultView": 2, "slots": [
  {"slot": 1, "channel": "RPM", "number": 12, "divider": 1, "name": "Drehz", "unit": "rpm"},
  {"slot": 5, "channel": "Batt", "number": 7, "divider": 100, "name": "Akku", "unit": "V"}]})";

std::string replaced(const std::string& before, const std::string& after,
                     const std::string& in = ValidProfile)
{
    if (!text::contains(in, before))
        throw std::logic_error("row does not apply: " + before);
    return text::replaceAll(in, before, after);
}

// Everything a profile load could change, as text.
std::string windowState(FormRig& rig)
{
    Form1& f = *rig.form;
    HeadlessView& v = rig.view();
    std::ostringstream s;
    for (std::size_t k = 1; k <= 8; ++k) {
        const Form1::SlotRow& row = Form1::slotRows()[k];
        s << k << ':' << v.itemCount(row.list) << '/' << v.listIndex(row.list) << '/' << v.text(row.list)
          << '/' << v.text(row.name) << '/' << v.text(row.unit) << '/' << int(f.slotChannel[k]) << '/'
          << int(f.slotDivider[k]) << '|';
    }
    s << v.text("Combo10") << '|' << v.listIndex("Combo10") << '|' << v.itemCount("List1") << '|'
      << v.caption() << '|' << Profile::toJson(f.profileConfiguration());
    return s.str();
}

// A window without a port that has read the log-definition file and has slots 1 and 2 picked.
Form1& windowWithChoices(FormRig& rig, const std::string& logDefinition)
{
    Form1& f = rig.makeForm(directoryOf({}));
    rig.dialogs.fileAnswers = {logDefinition};
    rig.click("Command1");
    rig.pick("Combo1", 0);
    rig.pick("Combo2", 3);
    rig.type("Text2", "Ladedr");
    return f;
}

struct ProfileRow
{
    const char* name;
    std::string bytes;
    const char* message; // part of the one message
};

} // namespace

class BadProfile : public ::testing::TestWithParam<ProfileRow>
{
};

TEST_P(BadProfile, isRefusedAndChangesNothing)
{
    const ProfileRow& row = GetParam();
    const std::string path = writeTempFile("bad.morvandell.json", row.bytes);
    std::string reason;
    EXPECT_FALSE(Profile::load(path, &reason));
    EXPECT_TRUE(text::contains(reason, row.message) && text::contains(reason, path)) << reason;

    // The window shows that one message and changes nothing.
    FormRig rig;
    Form1& form = windowWithChoices(rig, dataFile(FourChannels));
    const std::string before = windowState(rig);
    rig.dialogs.messages.clear();
    EXPECT_FALSE(form.loadProfile(path));
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.dialogs.messages[0].text, reason);
    EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::Error);
    EXPECT_EQ(windowState(rig), before);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, BadProfile,
    ::testing::Values(
        ProfileRow{"unknownFormat", replaced("morvandell-profile", "dashboard"),
                   "Unbekanntes Format \"dashboard\""},
        ProfileRow{"newerVersion", replaced("\"version\": 1", "\"version\": 2"), "Version 2"},
        ProfileRow{"newerVersionOtherFields", R"({"format": "morvandell-profile", "version": 7})",
                   "Version 7"},
        ProfileRow{"missingLogDefinition", replaced("\"logDefinition\": \"/ecu/V3.xml\",", ""),
                   "\"logDefinition\" fehlt"},
        ProfileRow{"missingSlots", replaced(", \"slots\"", ", \"slotz\""), "\"slots\" fehlt"},
        ProfileRow{"slotsNotAList", R"({"format": "morvandell-profile", "version": 1,
        "logDefinition": "", "defaultView": 1, "slots": {}})",
                   "\"slots\" ist keine Liste"},
        ProfileRow{"slotEntryNotAnObject", replaced("\"slots\": [", "\"slots\": [3, "),
                   "Eintrag 1 in \"slots\""},
        ProfileRow{"missingUnit", replaced(", \"unit\": \"V\"", ""),
                   "Eintrag 2 in \"slots\": \"unit\" fehlt"},
        ProfileRow{"numberAsText", replaced("\"number\": 12", "\"number\": \"12\""),
                   "Eintrag 1 in \"slots\": \"number\" ist keine ganze Zahl"},
        ProfileRow{"numberNotWhole", replaced("\"number\": 12", "\"number\": 12.5"),
                   "\"number\" ist keine ganze"},
        ProfileRow{"number256", replaced("\"number\": 12", "\"number\": 256"),
                   "\"number\" ist 256, erlaubt sind 0 bis 255"},
        ProfileRow{"dividerMinus1", replaced("\"divider\": 100", "\"divider\": -1"), "\"divider\" ist -1"},
        ProfileRow{"defaultView4", replaced("\"defaultView\": 2", "\"defaultView\": 4"),
                   "\"defaultView\" ist 4"},
        ProfileRow{"slot0", replaced("\"slot\": 5", "\"slot\": 0"), "\"slot\" ist 0, erlaubt sind 1 bis 8"},
        ProfileRow{"slotTwice", replaced("\"slot\": 5", "\"slot\": 1"), "Slot 1 ist mehrfach angegeben"},
        ProfileRow{"nameOf9", replaced("\"Drehz\"", "\"Drehzahl1\""), "länger als 8 Zeichen"},
        ProfileRow{"unitOf4", replaced("\"rpm\"", "\"rpm2\""), "länger als 3 Zeichen"},
        ProfileRow{"loneSurrogate", replaced("\"Akku\"", "\"\\ud800\""), "ungültiges Zeichen"},
        ProfileRow{"latin1NotUtf8", replaced("\"Akku\"", "\"\xC4GT\""), "kein gültiger UTF-8-Text"},
        ProfileRow{"cutShort", ValidProfile.substr(0, ValidProfile.size() - 3), "kein gültiges JSON"},
        ProfileRow{"topLevelList", "[1, 2]", "kein JSON-Objekt"},
        ProfileRow{"over1MB", ValidProfile + std::string(Profile::MaxFileSize, ' '), "größer als 1 MB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Profile, windowRoundTripSendsTheSameFrames)
{
    const std::string logDefinition = dataFile(FourChannels);
    const std::string path = files::join(tempFolder(), "car.morvandell.json");
    std::vector<Bytes> sent[2];
    for (int run = 0; run < 2; ++run) {
        ControlRig rig;
        ASSERT_TRUE(rig.connect());
        rig.dialogs.fileAnswers = {logDefinition};
        rig.click("Command1");
        if (run == 0) {
            rig.pick("Combo4", 1);
            rig.pick("Combo1", 0);
            rig.pick("Combo2", 3);
            rig.pick("Combo6", 2); // slot 5
            rig.pick("Combo9", 0); // slot 8, the same channel as slot 1
            rig.pick("Combo10", 2);
            rig.type("Text16", "Akku");
            rig.type("Text9", "U");
            // Picked without an entry: number and divider 0, kept as picked.
            rig.view().setListIndex("Combo4", -1);
            rig.form->click("Combo4");
            rig.dialogs.fileAnswers = {path};
            EXPECT_TRUE(rig.command(Form1::SaveProfileCommand));
            EXPECT_EQ(rig.dialogs.fileRequests.back().title, "Profil speichern");
        } else {
            rig.pick("Combo3", 1); // to be forgotten: the profile leaves slot 3 out
            rig.dialogs.fileAnswers = {path};
            EXPECT_TRUE(rig.command(Form1::LoadProfileCommand));
            EXPECT_EQ(rig.dialogs.fileRequests.back().title, "Profil laden");
            EXPECT_EQ(rig.log().front(), "Profil geladen: car.morvandell.json");
        }
        EXPECT_TRUE(rig.dialogs.fileAnswers.empty());
        EXPECT_EQ(rig.dialogs.fileRequests.back().filter, "Morvandell-Profile (*.morvandell.json)");
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
        rig.click("Command2");
        sent[run] = rig.display().receivedFrames();
        ASSERT_EQ(sent[run].size(), 10u);
    }
    std::string error;
    const auto saved = Profile::load(path, &error);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(saved->logDefinition, files::absolutePath(logDefinition));
    for (int k : {3, 6, 7})
        EXPECT_FALSE(Profile::slot(*saved, k)) << k;
    ASSERT_TRUE(Profile::slot(*saved, 5));
    EXPECT_EQ(Profile::slot(*saved, 5)->channel, "Batt");
    EXPECT_EQ(sent[1], sent[0]);
    EXPECT_EQ(hexOf(sent[1][5]), hexOf(hex("55 01 00 50") + bytes("Akku    ") + hex("00 07 64") +
                                       bytes("V  ") + hex("00 00 00 0D")));
    EXPECT_EQ(hexOf(sent[1][9]), hexOf(settingsFrame(3)));
}

// The log-definition file changed after the profile was saved (edits on its text; gone: removed).
struct MatchRow
{
    const char* name;
    std::vector<std::pair<std::string, std::string>> edits; // none: the file is gone
    const char* message;                                    // %1: the log-definition file
    struct
    {
        int rpmNumber, mapDivider, mapListIndex;
    } expected;
};

class ChannelMatch : public ::testing::TestWithParam<MatchRow>
{
};

TEST_P(ChannelMatch, loadingMatchesChannelsByName)
{
    const MatchRow& row = GetParam();
    const std::string original(charsOf(*files::readAll(dataFile(FourChannels), 1 << 20, nullptr)));
    const std::string logDefinition = writeTempFile(std::string(row.name) + ".xml", original);
    const std::string path = writeTempFile(std::string(row.name) + ".morvandell.json", std::string());
    FormRig rig;
    ASSERT_TRUE(windowWithChoices(rig, logDefinition).saveProfile(path));
    const bool gone = row.edits.empty();
    if (gone) {
        std::filesystem::remove(files::toPath(logDefinition));
    } else {
        std::string changed = original;
        for (const auto& [before, after] : row.edits)
            changed = replaced(before, after, changed);
        writeTempFile(std::string(row.name) + ".xml", changed);
    }

    Form1& f = rig.makeForm(directoryOf({}));
    HeadlessView& v = rig.view();
    rig.dialogs.messages.clear();
    ASSERT_TRUE(f.loadProfile(path));
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    const std::string expected = text::replaceAll(row.message, "%1", logDefinition);
    EXPECT_TRUE(text::contains(rig.dialogs.messages[0].text, expected)) << rig.dialogs.messages[0].text;
    EXPECT_EQ(f.slotChannel[1], row.expected.rpmNumber);
    EXPECT_EQ(f.slotChannel[2], 200);
    EXPECT_EQ(f.slotDivider[2], row.expected.mapDivider);
    EXPECT_EQ(v.listIndex("Combo2"), row.expected.mapListIndex);
    EXPECT_EQ(v.text("Combo2"), "MAP");
    EXPECT_EQ(v.text("Text2"), "Ladedr"); // the boxes come from the profile
    EXPECT_EQ(v.text("Text6"), "kPa");
    EXPECT_EQ(v.itemCount("Combo1"), gone ? 0 : 4);
    // Saved again, the profile keeps its file and channel names.
    ASSERT_TRUE(Profile::slot(f.profileConfiguration(), 2));
    EXPECT_EQ(Profile::slot(f.profileConfiguration(), 2)->channel, "MAP");
    EXPECT_EQ(f.profileConfiguration().logDefinition, logDefinition);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ChannelMatch,
    ::testing::Values(
        MatchRow{"channelsMoved",
                 {{"channel=\"12\"", "channel=\"14\""}, {"divider=\"1\"/>\r\n</", "divider=\"5\"/>\r\n</"}},
                 "Slot 1 \"RPM\": Kanalnummer 12 → 14, Teiler 1 → 1\n"
                 "Slot 2 \"MAP\": Kanalnummer 200 → 200, Teiler 1 → 5",
                 {14, 5, 3}},
        MatchRow{"channelRemoved",
                 {{"MAP", "MAP2"}},
                 "fehlen in %1. Nicht zugeordnet, verwendet werden die Werte des Profils:\nSlot 2 \"MAP\"",
                 {12, 1, -1}},
        MatchRow{"fileGone",
                 {},
                 "%1 gibt es nicht. Nicht zugeordnet, verwendet werden die Werte des Profils:\n"
                 "Slot 1 \"RPM\"\nSlot 2 \"MAP\"",
                 {12, 1, -1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Profile, windowMenuOffersTheProfileCommands)
{
    FormRig rig(directoryOf({}));
    const auto& menu = rig.view().definition().windowMenu;
    ASSERT_EQ(rig.view().menu(), (std::vector<std::string>{Form1::SaveProfileCommand, Form1::LoadProfileCommand,
                                                            ui::userguide::Command}));
    EXPECT_EQ(menu[0].text + " " + menu[0].shortcut + " | " + menu[1].text + " " + menu[1].shortcut + " | " +
                  menu[2].text + " " + menu[2].shortcut,
              "Profil speichern… Ctrl+S | Profil laden… Ctrl+O | Hilfe F1");
    EXPECT_TRUE(rig.command(Form1::SaveProfileCommand)); // Cancel in the dialog: nothing happens
    EXPECT_EQ(rig.dialogs.fileRequests.size(), 1u);
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

class ProfileAtStart : public ::testing::TestWithParam<ProfileRow>
{
};

TEST_P(ProfileAtStart, isLoadedAndNothingIsSent)
{
    const ProfileRow& row = GetParam();
    const bool valid = row.bytes == ValidProfile;
    ControlRig rig;
    Form1& f = *rig.form;
    HeadlessView& v = rig.view();
    const std::string path = writeTempFile("start.morvandell.json", row.bytes);
    EXPECT_EQ(f.openProfileAtStart(path), valid);
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_TRUE(text::contains(rig.dialogs.messages[0].text, row.message)) << rig.dialogs.allMessages();
    EXPECT_EQ(v.text("Text1"), valid ? "Drehz" : "");
    EXPECT_EQ(v.text("Text16"), valid ? "Akku" : "");
    EXPECT_EQ(int(f.slotChannel[5]), valid ? 7 : 0);
    EXPECT_EQ(v.listIndex("Combo10"), valid ? 1 : 0);
    rig.runFor(100ms);
    EXPECT_TRUE(rig.display().rawReceived().empty() && !f.serialPort().isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileAtStart,
    ::testing::Values(ProfileRow{"validItsLogDefinitionGone", ValidProfile, "/ecu/V3.xml gibt es nicht"},
                      ProfileRow{"refused", replaced("\"version\": 1", "\"version\": 2"), "Version 2"}),
    [](const auto& info) { return std::string(info.param.name); });
