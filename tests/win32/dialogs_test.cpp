// The Win32 dialogs: message boxes, the one-line prompt, the question that does not block, the file
// dialogs and their filters, each answered as a user would.
#include "win32test.h"

#include "windows/wide.h"

#include <gtest/gtest.h>

#include <commdlg.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace morvandell::win32 {
namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpUntil;
using Icon = ui::Dialogs::Icon;

// A window to own the dialogs.
class DialogsTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        ui::FormSpec def;
        def.name = "Owner";
        def.caption = "Firmwareupdate";
        def.clientWidth = 3960;
        def.clientHeight = 1905;
        ui::ControlSpec button;
        button.name = "Command1";
        button.geometry = {120, 120, 1815, 375};
        button.text = "Load File";
        button.kind = ui::ControlKind::Button;
        def.controls.push_back(button);
        owner = frontEnd.createWindow(def, events);
        other = frontEnd.createWindow(def, events);
        owner->showWindow();
        pumpFor(frontEnd, 30ms);
    }
    HWND ownerHwnd() const { return frontEnd.windows().front()->handle(); }
    HWND otherHwnd() const { return frontEnd.windows().back()->handle(); }

    Win32FrontEnd frontEnd;
    ui::FormEvents events;
    std::unique_ptr<ui::FormView> owner;
    std::unique_ptr<ui::FormView> other;
};

struct MessageRow
{
    const char* title;
    const char* text;
    Icon icon;
    const wchar_t* shownTitle;
};

class MessageTest : public DialogsTest, public ::testing::WithParamInterface<MessageRow>
{};

TEST_P(MessageTest, aMessageBoxShowsTitleTextAndIconAndHoldsEveryWindow)
{
    const MessageRow& row = GetParam();
    std::wstring title, text;
    bool icon = false, ownerEnabled = true, otherEnabled = true;
    test::whenDialogAppears(frontEnd, row.shownTitle, [&](HWND box) {
        text = test::messageText(box);
        icon = test::hasIcon(box);
        ownerEnabled = ::IsWindowEnabled(ownerHwnd());
        otherEnabled = ::IsWindowEnabled(otherHwnd());
        title = test::textOf(box);
        test::pressButton(box, IDOK);
    });
    frontEnd.dialogs().message(owner.get(), row.title, row.text, row.icon);
    EXPECT_EQ(title, row.shownTitle);
    EXPECT_EQ(text, win::widen(row.text));
    EXPECT_EQ(icon, row.icon != Icon::None);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_FALSE(otherEnabled);
    EXPECT_TRUE(::IsWindowEnabled(ownerHwnd())); // all given back
    EXPECT_TRUE(::IsWindowEnabled(otherHwnd()));
}

INSTANTIATE_TEST_SUITE_P(Boxes, MessageTest,
                         ::testing::Values(MessageRow{"", "Bitte Comport wählen", Icon::None, L"Morvandell"},
                                           MessageRow{"Error", "Timeout", Icon::Error, L"Error"},
                                           MessageRow{"Error", "Datei zu groß!", Icon::Error, L"Error"},
                                           MessageRow{"Hinweis", "Please restart.", Icon::None, L"Hinweis"}));

struct PromptRow
{
    const wchar_t* typed;
    int button;
    std::optional<std::string> answer;
};

class PromptTest : public DialogsTest, public ::testing::WithParamInterface<PromptRow>
{};

TEST_P(PromptTest, thePromptGivesWhatWasTypedOrNothingOnCancel)
{
    const PromptRow& row = GetParam();
    std::wstring label;
    test::whenDialogAppears(frontEnd, L"Hinweis", [&](HWND dialog) {
        label = test::textOf(::GetDlgItem(dialog, Win32Dialogs::PromptLabelId));
        ::SetDlgItemTextW(dialog, Win32Dialogs::PromptEditId, row.typed);
        test::pressButton(dialog, row.button);
    });
    EXPECT_EQ(frontEnd.dialogs().textPrompt(owner.get(), "Hinweis", "Comport:"), row.answer);
    EXPECT_EQ(label, L"Comport:");
}

INSTANTIATE_TEST_SUITE_P(Answers, PromptTest,
                         ::testing::Values(PromptRow{L"5", IDOK, "5"}, PromptRow{L"", IDOK, ""},
                                           PromptRow{L"Com #3", IDOK, "Com #3"}, PromptRow{L"7", IDCANCEL, std::nullopt}));

struct QuestionRow
{
    const char* what;
    std::function<void(HWND dialog)> answer; // null: withdrawn by the asker
    std::optional<bool> yes;
    bool withdrawnAfterTheAnswer = false; // the asker lets go before the answer reaches it
};

class QuestionTest : public DialogsTest, public ::testing::WithParamInterface<QuestionRow>
{};

TEST_P(QuestionTest, theQuestionLetsTheLoopRunAndAnswersFromIt)
{
    const QuestionRow& row = GetParam();
    std::optional<bool> answer;
    auto question = frontEnd.dialogs().askWithoutBlocking(owner.get(), "Firmwareupdate",
                                                          "Die Übertragung läuft noch. Abbrechen?",
                                                          [&](bool yes) { answer = yes; });
    const HWND dialog = test::findDialog(L"Firmwareupdate");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(test::textOf(::GetDlgItem(dialog, Win32Dialogs::QuestionTextId)), L"Die Übertragung läuft noch. Abbrechen?");
    EXPECT_EQ(test::textOf(::GetDlgItem(dialog, IDYES)), L"Ja");
    EXPECT_EQ(LOWORD(::SendMessageW(dialog, DM_GETDEFID, 0, 0)), IDNO);
    EXPECT_FALSE(::IsWindowEnabled(ownerHwnd()));

    // While it is open, the loop goes on (a transfer's waits and timers).
    int ticks = 0;
    for (int i = 1; i <= 3; ++i)
        frontEnd.loop().startTimer(std::chrono::milliseconds(20 * i), [&] { ++ticks; });
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return ticks == 3; }, 1s));
    EXPECT_FALSE(answer);

    if (row.answer) {
        test::focusWindow(dialog, ::GetDlgItem(dialog, IDNO));
        row.answer(dialog);
        if (row.withdrawnAfterTheAnswer) {
            EXPECT_FALSE(::IsWindow(dialog)); // the click is taken,
            EXPECT_FALSE(answer) << "an answer from inside the click"; // its answer on its way
            question.reset();
        }
        ASSERT_TRUE(pumpUntil(frontEnd, [&] { return answer.has_value(); }, 2s));
    } else {
        question.reset();
        pumpFor(frontEnd, 100ms);
    }
    EXPECT_EQ(answer, row.yes);
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_TRUE(::IsWindowEnabled(ownerHwnd()));
    question.reset(); // after the answer: nothing more
    EXPECT_EQ(answer, row.yes);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, QuestionTest,
    ::testing::Values(QuestionRow{"Ja", [](HWND d) { test::pressButton(d, IDYES); }, true},
                      QuestionRow{"Nein", [](HWND d) { test::pressButton(d, IDNO); }, false},
                      QuestionRow{"Enter", [](HWND) { test::pressKey(VK_RETURN); }, false},
                      QuestionRow{"Escape", [](HWND) { test::pressKey(VK_ESCAPE); }, false},
                      QuestionRow{"withdrawn", nullptr, std::nullopt},
                      // An answer given counts, also when the asker's work ended before it arrived.
                      QuestionRow{"JaThenWithdrawn", [](HWND d) { test::pressButton(d, IDYES); }, true, true},
                      QuestionRow{"NeinThenWithdrawn", [](HWND d) { test::pressButton(d, IDNO); }, false,
                                  true}),
    [](const auto& info) { return std::string(info.param.what); });

struct FilterRow
{
    const char* filter;
    std::wstring pairs;
    const wchar_t* extension;
};

class FilterTest : public ::testing::TestWithParam<FilterRow>
{};

TEST_P(FilterTest, aFilterBecomesDescriptionAndPatternPairs)
{
    const FilterRow& row = GetParam();
    EXPECT_EQ(Win32Dialogs::fileFilter(row.filter), row.pairs);
    EXPECT_EQ(Win32Dialogs::defaultExtension(row.filter), row.extension);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Filters, FilterTest,
    ::testing::Values(FilterRow{"Log-Definition (*.xml)", L"Log-Definition (*.xml)\0*.xml\0\0"s, L"xml"},
                      FilterRow{"Profil (*.morvandell.json);;Alle Dateien (*.*)",
                                L"Profil (*.morvandell.json)\0*.morvandell.json\0Alle Dateien (*.*)\0*.*\0\0"s,
                                L"morvandell.json"},
                      FilterRow{"Firmware (*.bin *.hex)", L"Firmware (*.bin *.hex)\0*.bin;*.hex\0\0"s, L"bin"},
                      FilterRow{"Alle Dateien (*.*)", L"Alle Dateien (*.*)\0*.*\0\0"s, L""},
                      FilterRow{"", L"*.*\0*.*\0\0"s, L""}));

// The file dialogs' name field ("cmb13" in the common dialogs' templates).
constexpr int FileNameField = 0x47c;

class FileDialogTest : public DialogsTest
{
public:
    void SetUp() override
    {
        DialogsTest::SetUp();
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        folder = std::filesystem::path(temp) / L"Prüfordner Ä";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string utf8(const std::filesystem::path& p) const { return win::narrow(p.wstring()); }
    void answerWith(const std::wstring& title, const std::wstring& name, int button = IDOK)
    {
        test::whenDialogAppears(
            frontEnd, title,
            [name, button](HWND dialog) {
                ::SetDlgItemTextW(dialog, FileNameField, name.c_str());
                ::PostMessageW(dialog, WM_COMMAND, button, 0);
            },
            [](HWND dialog) { return ::GetDlgItem(dialog, FileNameField) != nullptr; });
    }

    std::filesystem::path folder;
};

TEST_F(FileDialogTest, theOpenDialogGivesTheChosenFileAsUtf8)
{
    const auto file = folder / L"Version_1_2 ü.xml";
    std::ofstream(file) << "<xml/>";
    answerWith(L"Version.xml wählen", file.wstring());
    EXPECT_EQ(frontEnd.dialogs().openFileName(owner.get(), "Version.xml wählen", utf8(folder), "Log-Definition (*.xml)"),
              utf8(file));
    answerWith(L"Version.xml wählen", L"", IDCANCEL);
    EXPECT_EQ(frontEnd.dialogs().openFileName(owner.get(), "Version.xml wählen", utf8(folder), "Log-Definition (*.xml)"),
              std::nullopt);
}

TEST_F(FileDialogTest, aSavedNameGetsTheWholeExtensionAndAnExistingFileIsAskedFor)
{
    const std::string filter = "Profil (*.morvandell.json)";
    answerWith(L"Profil speichern", (folder / L"auto").wstring());
    EXPECT_EQ(frontEnd.dialogs().saveFileName(owner.get(), "Profil speichern", utf8(folder / L"x.morvandell.json"), filter),
              utf8(folder / L"auto.morvandell.json"));

    // "auto" again, now that the file exists: "Nein" to replacing it, then Cancel.
    std::ofstream(folder / L"auto.morvandell.json") << "{}";
    answerWith(L"Profil speichern", (folder / L"auto").wstring());
    std::wstring question;
    test::whenDialogAppears(
        frontEnd, L"Profil speichern",
        [&](HWND box) {
            question = test::messageText(box);
            test::pressButton(box, IDNO);
            answerWith(L"Profil speichern", L"", IDCANCEL); // the file dialog again
        },
        [](HWND dialog) { return ::GetDlgItem(dialog, IDNO) != nullptr; });
    EXPECT_EQ(frontEnd.dialogs().saveFileName(owner.get(), "Profil speichern", utf8(folder / L"x.morvandell.json"), filter),
              std::nullopt);
    EXPECT_NE(question.find(L"auto.morvandell.json ist bereits vorhanden."), std::wstring::npos);
}

} // namespace
} // namespace morvandell::win32
