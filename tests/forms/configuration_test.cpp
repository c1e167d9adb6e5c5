// What the control window sends is what it keeps and what the command line sends: a profile saved and
// loaded again sends the same nine frames, the window and morvandell-cli send the same frames for the
// same log-definition file and picks, Command1 keeps the loaded profile's file until it reads another,
// and the port list waits with the sending buttons.
#include "formtest.h"

#include "cli/clitool.h"
#include "cli/invocation.h"
#include "platform/files.h"
#include "platform/text.h"
#include "writer/profile.h"

#include <cstdio>

using namespace morvandell;
using namespace morvandell::test;

namespace {

// Indices: <channels> 1, RPM 2 (list position 0), Oil_P 3 (1), Dup 4 (2), Dup 5 (3), MAP 6 (4).
const std::string FileA = "<channels>\r\n"
                          "<channel name=\"RPM\" channel=\"12\" unit=\"rpm\" divider=\"1\"/>\r\n"
                          "<channel name=\"Oil_P\" channel=\"13\" unit=\"bar\" divider=\"10\"/>\r\n"
                          "<channel name=\"Dup\" channel=\"20\" unit=\"a\" divider=\"2\"/>\r\n"
                          "<channel name=\"Dup\" channel=\"21\" unit=\"b\" divider=\"3\"/>\r\n"
                          "<channel name=\"MAP\" channel=\"200\" unit=\"kPa\" divider=\"1\"/>\r\n"
                          "</channels>\r\n";

// The log-definition files of the tests by name; a name not listed here is a file that does not exist.
std::string fileNamed(const std::string& name)
{
    if (name == "A" || name == "P")
        return FileA;
    if (name == "A without MAP")
        return text::replaceAll(FileA, "MAP", "Boost");
    if (name == "RPM moved") // the next firmware's file: RPM on another channel
        return text::replaceAll(FileA, "channel=\"12\" unit=\"rpm\" divider=\"1\"",
                                "channel=\"14\" unit=\"rpm\" divider=\"5\"");
    return {};
}

// The file NAME of a row, in the test's own folder.
std::string pathOf(const std::string& row, const std::string& name)
{
    return files::join(tempFolder(), text::replaceAll(row + "-" + name, " ", "_"));
}

void writeFile(const std::string& row, const std::string& name, const std::string& content)
{
    writeTempFile(files::fileName(pathOf(row, name)), content);
}

// Writes the files that the steps read (each "read:NAME" that fileNamed knows).
void writeFiles(const std::string& row, const std::string& steps)
{
    for (const std::string& step : text::split(steps, '|')) {
        const std::vector<std::string> part = text::split(step, ':');
        if (part[0] == "read" && !fileNamed(part.at(1)).empty())
            writeFile(row, part[1], fileNamed(part[1]));
    }
}

// Runs the user's steps on the window, separated by "|":
//   read:NAME      Command1, the file NAME chosen     cancel        Command1, Cancel in its dialog
//   pick:LIST:P    the entry at position P picked     type:CTRL:T   T typed into a box or a list's field
//   view:P         the default view at position P
void act(FormRig& rig, const std::string& row, const std::string& steps)
{
    for (const std::string& step : text::split(steps, '|')) {
        const std::vector<std::string> part = text::split(step, ':');
        if (part[0] == "read" || part[0] == "cancel") {
            rig.dialogs.fileAnswers.clear();
            if (part[0] == "read")
                rig.dialogs.fileAnswers.push_back(pathOf(row, part.at(1)));
            rig.click("Command1");
        } else if (part[0] == "pick") {
            rig.pick(part.at(1), std::stoi(part.at(2)));
        } else if (part[0] == "type") {
            rig.type(part.at(1), part.at(2));
        } else if (part[0] == "view") {
            rig.pick("Combo10", std::stoi(part.at(1)));
        } else {
            ADD_FAILURE() << "unknown step " << step;
        }
    }
}

// The frames of "Daten schreiben", after whatever was sent before.
std::vector<std::string> writeFrames(ControlRig& rig)
{
    const std::size_t before = rig.display().receivedFrames().size();
    rig.click("Command2");
    const std::vector<Bytes> all = rig.display().receivedFrames();
    std::vector<std::string> frames;
    for (std::size_t i = before; i < all.size(); ++i)
        frames.push_back(hexOf(all[i]));
    return frames;
}

// The frames that morvandell-cli configure sends for these arguments to a display of its own, after its
// connect frame; none, with the tool's message as a failure, when it fails.
std::vector<std::string> cliFrames(std::vector<std::string> arguments)
{
    ControlRig line; // the display; its window only looks at the port at start-up
    arguments.insert(arguments.begin(), {"configure", "--port", "3"});
    std::string error;
    const auto invocation = Invocation::parse(arguments, &error);
    if (!invocation) {
        ADD_FAILURE() << error;
        return {};
    }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int status = -1;
    {
        CliTool tool(line.loop(), directoryOf({{3, line.devicePath()}}), out, err);
        status = tool.run(*invocation);
    }
    std::string said;
    std::rewind(err);
    for (int c = std::fgetc(err); c != EOF; c = std::fgetc(err))
        said += char(c);
    std::fclose(out);
    std::fclose(err);
    if (status != 0) {
        ADD_FAILURE() << "morvandell-cli: status " << status << ": " << said;
        return {};
    }
    std::vector<std::string> frames;
    const std::vector<Bytes> all = line.display().receivedFrames();
    for (std::size_t i = 1; i < all.size(); ++i)
        frames.push_back(hexOf(all[i]));
    return frames;
}

// --- profiles --------------------------------------------------------------------------------------------

struct ProfileRow
{
    const char* name;
    const char* steps;
    const char* fileAtLoad; // the file A as it is when the profile is loaded
};

class SavedProfile : public ::testing::TestWithParam<ProfileRow>
{
};

TEST_P(SavedProfile, sendsWhatTheWindowSent)
{
    const ProfileRow& row = GetParam();
    writeFiles(row.name, row.steps);
    const std::string profile = pathOf(row.name, "profile.morvandell.json");

    std::vector<std::string> sent;
    {
        ControlRig rig;
        ASSERT_TRUE(rig.connect());
        act(rig, row.name, row.steps);
        sent = writeFrames(rig);
        ASSERT_EQ(sent.size(), 9u) << rig.dialogs.allMessages();
        ASSERT_TRUE(rig.form->saveProfile(profile)) << rig.dialogs.allMessages();
    }
    writeFile(row.name, "A", fileNamed(row.fileAtLoad));

    {
        ControlRig again;
        ASSERT_TRUE(again.connect());
        ASSERT_TRUE(again.form->loadProfile(profile)) << again.dialogs.allMessages();
        EXPECT_EQ(writeFrames(again), sent) << again.dialogs.allMessages();
    }
    EXPECT_EQ(cliFrames({"--profile", profile}), sent);
}

INSTANTIATE_TEST_SUITE_P(
    Form1, SavedProfile,
    ::testing::Values(
        ProfileRow{"nothingChosen", "read:A", "A"},
        ProfileRow{"nameTypedWithoutAPick", "read:A|type:Text1:Drehz", "A"},
        ProfileRow{"unitTypedAloneOnPage2", "read:A|type:Text12:V", "A"},
        ProfileRow{"typedBeforeAnyFile", "type:Text4:Frei|type:Text8:%", "A"},
        ProfileRow{"pickThenTheNameEdited", "read:A|pick:Combo2:1|type:Text2:Oel", "A"},
        ProfileRow{"pickThenTheListsTextTypedOver", "read:A|pick:Combo3:0|type:Combo3:Anders", "A"},
        ProfileRow{"page2", "read:A|pick:Combo6:1|pick:Combo7:4|pick:Combo8:0|pick:Combo9:1|type:Text13:Acht|"
                            "type:Text10:x",
                   "A"},
        ProfileRow{"noDefaultView", "read:A|pick:Combo1:0|type:Combo10:", "A"},
        ProfileRow{"defaultView3", "read:A|view:2", "A"},
        ProfileRow{"theSecondOfTwoEntriesOfOneName", "read:A|pick:Combo2:3", "A"},
        ProfileRow{"aPickFromAnEarlierFile", "read:A|pick:Combo1:0|read:RPM moved", "A"},
        ProfileRow{"aChannelTheFileNoLongerHas", "read:A|pick:Combo1:4|pick:Combo2:0", "A without MAP"},
        ProfileRow{"charactersTheCodePageLacks", "read:A|type:Text1:Łódź", "A"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProfileFileRow
{
    const char* name;
    // profile:NAME loads a profile that names the file NAME (written unless fileNamed knows no NAME);
    // read:NAME and cancel are Command1's.
    const char* steps;
    const char* named; // the file a profile saved now names
};

class ProfileFile : public ::testing::TestWithParam<ProfileFileRow>
{
};

TEST_P(ProfileFile, staysUntilCommand1ReadsAnother)
{
    const ProfileFileRow& row = GetParam();
    writeFiles(row.name, "read:A|read:P");
    FormRig rig(directoryOf({}));
    for (const std::string& step : text::split(row.steps, '|')) {
        if (!text::startsWith(step, "profile:")) {
            act(rig, row.name, step);
            continue;
        }
        DisplayConfiguration profile;
        profile.logDefinition = pathOf(row.name, step.substr(8));
        Profile::slot(profile, 1) = SlotSetting{"RPM", 12, 1, "Drehz", "rpm"};
        const std::string path = pathOf(row.name, "profile.morvandell.json");
        writeFile(row.name, "profile.morvandell.json", Profile::toJson(profile));
        ASSERT_TRUE(rig.form->loadProfile(path)) << rig.dialogs.allMessages();
    }
    EXPECT_EQ(rig.form->profileConfiguration().logDefinition, pathOf(row.name, row.named));
}

INSTANTIATE_TEST_SUITE_P(Form1, ProfileFile,
                         ::testing::Values(ProfileFileRow{"cancel", "profile:P|cancel", "P"},
                                           ProfileFileRow{"cancelAfterAnEarlierFile", "read:A|profile:P|cancel", "P"},
                                           ProfileFileRow{"cancelTheProfilesFileGone", "read:A|profile:gone|cancel",
                                                          "gone"},
                                           ProfileFileRow{"aFileThatDoesNotExist", "profile:P|read:missing", "P"},
                                           ProfileFileRow{"anotherFileRead", "profile:P|read:A", "A"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the window and the command line ---------------------------------------------------------------------

struct SameFramesRow
{
    const char* name;
    std::string file; // read after FileA
    // "N=NAME": slot N gets the first entry of that name, as --slot N=NAME does.
    std::vector<std::string> picks;
};

class WindowAndCommandLine : public ::testing::TestWithParam<SameFramesRow>
{
};

TEST_P(WindowAndCommandLine, sendTheSameFramesForTheSameFileAndPicks)
{
    const SameFramesRow& row = GetParam();
    writeFile(row.name, "first", FileA);
    writeFile(row.name, "second", row.file);

    std::vector<std::string> arguments{"--logdef", pathOf(row.name, "second")};
    std::vector<std::string> window;
    {
        ControlRig rig;
        ASSERT_TRUE(rig.connect());
        act(rig, row.name, "read:first|read:second");
        for (const std::string& pick : row.picks) {
            const auto slot = std::size_t(std::stoi(pick.substr(0, pick.find('='))));
            rig.pick(Form1::slotRows()[slot].list, pick.substr(pick.find('=') + 1));
            arguments.insert(arguments.end(), {"--slot", pick});
        }
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
        window = writeFrames(rig);
        ASSERT_EQ(window.size(), 9u) << rig.dialogs.allMessages();
    }
    EXPECT_EQ(cliFrames(arguments), window);
}

const std::vector<std::string> EveryName{"1=RPM", "2=Oil_P", "3=Dup", "4=MAP", "5=MAP", "6=Dup", "7=Oil_P", "8=RPM"};

INSTANTIATE_TEST_SUITE_P(
    Form1, WindowAndCommandLine,
    ::testing::Values(
        SameFramesRow{"theSameFile", FileA, EveryName},
        SameFramesRow{"noUnitsOrDividers",
                      "<channels>\r\n<channel name=\"RPM\" channel=\"12\"/>\r\n<channel name=\"Oil_P\" channel=\"13\"/>\r\n"
                      "<channel name=\"Dup\" channel=\"20\"/>\r\n<channel name=\"Dup\" channel=\"21\"/>\r\n"
                      "<channel name=\"MAP\" channel=\"200\"/>\r\n</channels>\r\n",
                      EveryName},
        SameFramesRow{"shorterWithCommentLines",
                      "<!-- channel list -->\r\n<channels>\r\n<channel name=\"MAP\" channel=\"7\"/>\r\n"
                      "<!-- channel: the next has no divider -->\r\n<channel name=\"RPM\" channel=\"9\" unit=\"U\"/>\r\n",
                      {"1=RPM", "4=MAP", "8=RPM"}},
        SameFramesRow{"namesOnly", "<channel name=\"Oil_P\" />\n<channel name=\"Dup\" />\n", {"2=Oil_P", "3=Dup", "6=Dup"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the port list ---------------------------------------------------------------------------------------

TEST(Form1, thePortListWaitsWithTheSendingButtons)
{
    std::vector<std::string> usableDuringWait;
    ControlRig rig;
    ASSERT_TRUE(rig.connect());
    rig.form->replyWait.waitingChanged.connect([&](bool waiting) {
        if (waiting)
            for (const char* control : {"Combo5", "Command2", "Command6"})
                if (rig.view().canUse(control))
                    usableDuringWait.push_back(control);
    });
    rig.click("Command6");
    EXPECT_EQ(usableDuringWait, std::vector<std::string>{});
    EXPECT_TRUE(rig.view().canUse("Combo5"));
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

} // namespace
