// The window program's command line as both programs read it: the rows the programs' own tests
// (tests/qt/tst_program.cpp, tests/win32/program_test.cpp) do not start a program for.
#include "app/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using morvandell::Arguments;

namespace {

using Program = Arguments::Program;
using Action = Arguments::Action;

struct ArgumentRow
{
    const char* name;
    Program program;
    std::vector<std::string> args;
    Action action;
    int exitCode;
    std::string text; // the whole text, or (ending in "...") its start
    bool demo;
    std::string profile;
};

std::vector<ArgumentRow> rows()
{
    const std::string version = "morvandell " MORVANDELL_VERSION;
    return {
        {"qtShortVersion", Program::Qt, {"-v"}, Action::ShowVersion, 0, version + "\n", false, ""},
        {"qtShortHelp", Program::Qt, {"-h"}, Action::ShowHelp, 0, "Usage: morvandell [--demo] [PROFILE]\n...", false, ""},
        // Help is answered wherever it stands in the Qt program (before Qt's own options are known) ...
        {"qtHelpAfterUnknown", Program::Qt, {"--bogus", "--help"}, Action::ShowHelp, 0, "Usage:...", false, ""},
        // ... and the Windows program reads in order.
        {"windowsHelpAfterUnknown", Program::Windows, {"--bogus", "--help"}, Action::Refuse, 1,
         "morvandell: unknown argument: --bogus (see morvandell --help)\r\n", false, ""},
        {"windowsVersionAfterHelp", Program::Windows, {"-h", "-v"}, Action::ShowHelp, 0, "Usage:...", false, ""},
        {"qtSlashQuestionMarkIsAFile", Program::Qt, {"/?"}, Action::Start, 0, "", false, "/?"},
        {"qtEmptyArgument", Program::Qt, {""}, Action::Refuse, 1,
         "morvandell: unknown argument:  (see morvandell --help)\n", false, ""},
        {"qtDemoAndProfile", Program::Qt, {"a.morvandell.json", "--demo"}, Action::Start, 0, "", true,
         "a.morvandell.json"},
        {"windowsDemoAndProfile", Program::Windows, {"--demo", "C:\\Profile\\a.morvandell.json"}, Action::Start, 0, "",
         true, "C:\\Profile\\a.morvandell.json"},
        {"nothing", Program::Windows, {}, Action::Start, 0, "", false, ""},
    };
}

class ProgramArguments : public testing::TestWithParam<ArgumentRow>
{
};

TEST_P(ProgramArguments, sayWhatToDo)
{
    const ArgumentRow& row = GetParam();
    const Arguments got = Arguments::read(row.args, row.program);
    EXPECT_EQ(got.action, row.action);
    EXPECT_EQ(got.exitCode, row.exitCode);
    const std::string ellipsis = "...";
    if (row.text.size() > ellipsis.size() && row.text.compare(row.text.size() - 3, 3, ellipsis) == 0)
        EXPECT_EQ(got.text.substr(0, row.text.size() - 3), row.text.substr(0, row.text.size() - 3));
    else
        EXPECT_EQ(got.text, row.text);
    EXPECT_EQ(got.demo, row.demo);
    EXPECT_EQ(got.profile, row.profile);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProgramArguments, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<ArgumentRow>& info) { return std::string(info.param.name); });

// Each program's help text ends with its own lines, in its own line ends.
TEST(ProgramHelp, endsWithTheProgramsOwnLines)
{
    const std::string qt = Arguments::read({"--help"}, Program::Qt).text;
    const std::string windows = Arguments::read({"/?"}, Program::Windows).text;
    EXPECT_NE(qt.find("\nQt's own options (e.g. -platform) are accepted as well.\n"), std::string::npos);
    EXPECT_EQ(qt.find('\r'), std::string::npos);
    EXPECT_NE(windows.find("\r\nPort n of the list (\"Com #n\") is the serial port COMn.\r\n"), std::string::npos);
    EXPECT_EQ(windows.find("Qt"), std::string::npos);
    for (std::size_t at = windows.find('\n'); at != std::string::npos; at = windows.find('\n', at + 1))
        EXPECT_TRUE(at > 0 && windows[at - 1] == '\r') << "a bare line end at " << at;
}

} // namespace
