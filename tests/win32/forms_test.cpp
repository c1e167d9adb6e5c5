// The two windows on the Win32 front end, driven through their native controls, with the display
// simulator behind COM3 (tests/wine/ptypeer.py maps a pseudo-terminal there; the simulator's logic
// answers from a thread of the test): what the windows look like natively. The control window's logic
// (connect, the log-definition file, the nine frames, reset, settings, Timeout, a device gone) runs on
// every platform in tests/forms/form1_test.cpp, under Wine too.
#include "comdisplay.h"
#include "win32test.h"

#include "control/form1.h"
#include "platform/text.h"
#include "updater/form2.h"
#include "windows/wide.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

namespace morvandell::win32 {
namespace {

using namespace std::chrono_literals;
using sim::SimulatorConfig;
using morvandell::test::LinePeer;
using test::pumpFor;
using test::pumpUntil;

// A file in a folder of its own under the temporary folder, by its UTF-8 path.
std::string writeFile(const std::wstring& name, const Bytes& content)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const auto folder = std::filesystem::path(temp) / L"Morvandell Fenster";
    std::filesystem::create_directories(folder);
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                std::streamsize(content.size()));
    return win::narrow(path.wstring());
}

Bytes someImage(std::size_t size)
{
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = Byte((i * 7 + i / 256) & 0xFF);
    return image;
}

// The control window on the Win32 front end with the display at port 3.
class Rig
{
public:
    // ports: the port list (default: the display on COM3).
    explicit Rig(SimulatorConfig config = {}, std::shared_ptr<const PortDirectory> ports = nullptr)
        : display(std::move(config))
        , boxes(frontEnd)
    {
        if (!ports)
            ports = std::make_shared<PortDirectory>(
                std::map<int, PortDirectory::Entry>{{3, PortDirectory::Entry{"COM3", "Morvandell (COM3)"}}});
        form = std::make_unique<Form1>(frontEnd, ports);
        form->view().showWindow();
        pumpFor(frontEnd, 30ms);
    }

    Win32Window& window(const char* form = "Form1") { return *frontEnd.window(form); }
    HWND control(const char* name, const char* form = "Form1") { return window(form).control(name); }
    std::wstring text(const char* name, const char* form = "Form1") { return test::textOf(control(name, form)); }
    std::wstring caption(const char* form = "Form1") { return test::textOf(window(form).handle()); }
    // Pressed as the user presses it; returns once its handler (with its waits) is done.
    void click(const char* name, const char* form = "Form1")
    {
        ::SendMessageW(control(name, form), BM_CLICK, 0, 0);
    }
    // An entry picked in the open list.
    void pick(const char* name, int index)
    {
        const HWND combo = control(name);
        ::SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
        ::SendMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELENDOK),
                       reinterpret_cast<LPARAM>(combo));
        pumpUntil(frontEnd, [&] { return window().listIndex(name) == index; }, 1s);
    }
    int logCount() { return int(::SendMessageW(control("List1"), LB_GETCOUNT, 0, 0)); }
    bool connect()
    {
        pick("Combo5", 0);
        click("Command3");
        return pumpUntil(frontEnd, [&] { return caption() != L"Morvandell:"; }, 3s);
    }
    // The file dialog titled "Open" answered with this file.
    void whenAskedForAFile(const std::string& path)
    {
        test::whenDialogAppears(
            frontEnd, L"Open",
            [path](HWND dialog) {
                ::SetDlgItemTextW(dialog, FileNameField, win::widen(path).c_str());
                ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            },
            [](HWND dialog) { return ::GetDlgItem(dialog, FileNameField) != nullptr; });
    }
    void whenPromptedAnswer(const std::wstring& answer)
    {
        test::whenDialogAppears(
            frontEnd, L"Hinweis",
            [answer](HWND dialog) {
                ::SetDlgItemTextW(dialog, Win32Dialogs::PromptEditId, answer.c_str());
                test::pressButton(dialog, IDOK);
            },
            [](HWND dialog) { return ::GetDlgItem(dialog, Win32Dialogs::PromptEditId) != nullptr; });
    }
    static constexpr int FileNameField = 0x47c;

    Win32FrontEnd frontEnd;
    morvandell::test::ComDisplay display;
    test::MessageBoxes boxes;
    std::unique_ptr<Form1> form;
};

class FormsTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        if (LinePeer::port().empty())
            GTEST_SKIP() << "needs tests/wine/ptypeer.py for COM3";
    }
};

// --- what the windows look like -------------------------------------------------------------------

struct Place
{
    const char* control;
    RECT px; // left, top, width, height at 96 dpi (twips / 15)
};

// Each place as the table gives it, every caption and text within its control in the control's font.
void expectPlacesAndReadableCaptions(Win32Window& w, const std::vector<Place>& places)
{
    for (const Place& p : places) {
        SCOPED_TRACE(p.control);
        const HWND c = w.control(p.control);
        RECT r;
        ::GetWindowRect(c, &r);
        ::MapWindowPoints(nullptr, w.handle(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}),
                  (std::vector<LONG>{p.px.left, p.px.top, p.px.right, p.px.bottom}));
    }
    for (const ui::ControlSpec& def : w.definition().controls) {
        const HWND c = w.control(def.name);
        std::wstring text = test::textOf(c);
        if (text.empty() || !def.visible || def.kind == ui::ControlKind::ListBox)
            continue;
        SCOPED_TRACE(def.name);
        const HDC dc = ::GetDC(c);
        const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0)));
        RECT client;
        ::GetClientRect(c, &client);
        // Room the control leaves for its text: a button's border and focus frame, a frame's corner, the
        // combo box's arrow.
        int room = client.right;
        switch (def.kind) {
        case ui::ControlKind::Button:
            room -= 8;
            break;
        case ui::ControlKind::Frame:
            room -= 16;
            break;
        case ui::ControlKind::ComboBox:
            room -= ::GetSystemMetrics(SM_CXVSCROLL) + 6;
            break;
        case ui::ControlKind::TextBox:
            room -= 4;
            break;
        default:
            break;
        }
        RECT need{0, 0, room, 0};
        const UINT wrap = def.wrap ? DT_WORDBREAK : DT_SINGLELINE;
        ::DrawTextW(dc, text.c_str(), int(text.size()), &need, DT_CALCRECT | DT_NOPREFIX | wrap);
        ::SelectObject(dc, old);
        ::ReleaseDC(c, dc);
        EXPECT_LE(need.right, room) << win::narrow(text);
        EXPECT_LE(need.bottom, client.bottom) << win::narrow(text);
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -11);
        EXPECT_EQ(font.lfWeight, def.bold ? FW_BOLD : FW_NORMAL);
    }
}

TEST_F(FormsTest, theControlWindowStartsAsItsTableSaysWithReadableCaptions)
{
    Rig rig;
    Win32Window& w = rig.window();
    // What start-up put into the controls, as the native controls show it (the lists' entries and the
    // states: tests/forms/form1_test.cpp).
    EXPECT_EQ(rig.caption(), L"Morvandell:");
    RECT client;
    ::GetClientRect(w.handle(), &client);
    EXPECT_EQ(client.right, 334);
    EXPECT_EQ(client.bottom, 422);
    EXPECT_EQ(rig.text("Combo5"), L"Port");
    EXPECT_EQ(rig.text("Combo10"), L"Seite #1 : 1-4");
    EXPECT_EQ(rig.text("Combo12"), L"na");
    EXPECT_EQ(rig.text("Text17"), L"0");
    EXPECT_EQ(rig.text("Combo11"), L"Warnung");
    EXPECT_EQ(rig.text("Combo1"), L"Bitte wählen....");
    EXPECT_EQ(rig.text("Command1"), L"C:\\Programme\\ECUMaster\\log\\xml\\Version*_***.xml");
    EXPECT_EQ(rig.logCount(), 0);
    expectPlacesAndReadableCaptions(w, {{"Command1", {8, 0, 321, 25}},
                                        {"Frame1", {8, 32, 225, 113}},
                                        {"Combo1", {16, 48, 100, 21}},
                                        {"Text1", {120, 48, 65, 19}},
                                        {"Text5", {192, 48, 33, 19}},
                                        {"Command2", {240, 40, 89, 217}},
                                        {"Combo9", {16, 232, 100, 21}},
                                        {"Label1", {16, 272, 97, 17}},
                                        {"Combo10", {120, 272, 105, 21}},
                                        {"Command6", {240, 264, 89, 57}},
                                        {"Combo5", {16, 336, 65, 21}},
                                        {"Command4", {232, 336, 89, 25}},
                                        {"List1", {16, 368, 305, 43}}});
    // The port list's edit field shows its widest entry whole.
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(::GetComboBoxInfo(rig.control("Combo5"), &info));
    RECT field;
    ::GetClientRect(info.hwndItem, &field);
    const LRESULT margins = ::SendMessageW(info.hwndItem, EM_GETMARGINS, 0, 0);
    const HDC dc = ::GetDC(info.hwndItem);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(info.hwndItem, WM_GETFONT, 0, 0)));
    SIZE widest{};
    ::GetTextExtentPoint32W(dc, L"Com #16", 7, &widest);
    ::SelectObject(dc, old);
    ::ReleaseDC(info.hwndItem, dc);
    EXPECT_LE(widest.cx + LOWORD(margins) + HIWORD(margins), field.right)
        << "text " << widest.cx << ", margins " << LOWORD(margins) << "+" << HIWORD(margins) << ", field " << field.right;
    EXPECT_TRUE(rig.boxes.seen().empty()) << rig.boxes.all();
}

TEST_F(FormsTest, theUpdateWindowStartsAsItsTableSaysWithReadableCaptions)
{
    Rig rig;
    test::whenDialogAppears(rig.frontEnd, L"Hinweis", [](HWND prompt) { test::pressButton(prompt, IDCANCEL); });
    rig.click("Command4");
    ASSERT_TRUE(pumpUntil(rig.frontEnd, [&] { return rig.frontEnd.window("Form2") != nullptr; }));
    Win32Window& w = rig.window("Form2");
    EXPECT_TRUE(::IsWindowVisible(w.handle()));
    EXPECT_EQ(rig.caption("Form2"), L"Firmwareupdate");
    RECT client;
    ::GetClientRect(w.handle(), &client);
    EXPECT_EQ(client.right, 264);
    EXPECT_EQ(client.bottom, 127);
    EXPECT_EQ(::SendMessageW(rig.control("ProgressBar1", "Form2"), PBM_GETRANGE, FALSE, 0), 130050);
    std::string states;
    for (const char* b : {"Command1", "Command2", "Command3", "Command4", "Command5"})
        states += ::IsWindowEnabled(rig.control(b, "Form2")) ? '1' : '0';
    EXPECT_EQ(states, "00110"); // the prompt was cancelled: no Load File either
    expectPlacesAndReadableCaptions(w, {{"Command1", {8, 8, 121, 25}},
                                        {"Command3", {136, 8, 121, 25}},
                                        {"Command4", {288, 8, 121, 25}}, // beyond the client area
                                        {"Command2", {8, 40, 121, 25}},
                                        {"Command5", {136, 40, 121, 25}},
                                        {"Label1", {8, 72, 121, 17}},
                                        {"ProgressBar1", {8, 96, 249, 25}}});
}

// --- the update window at work ----------------------------------------------------------------------

// Opens the update window on port 3 (taken over from a connected control window, or typed at the
// prompt) and loads the image.
void openAndLoad(Rig& rig, bool takeOver, const std::string& image)
{
    if (takeOver)
        ASSERT_TRUE(rig.connect());
    else
        rig.whenPromptedAnswer(L"3");
    rig.click("Command4");
    ASSERT_TRUE(pumpUntil(rig.frontEnd, [&] { return rig.frontEnd.window("Form2") != nullptr; }));
    EXPECT_EQ(rig.caption("Form2"), L"Firmwareupdate Com:3");
    rig.whenAskedForAFile(image);
    rig.click("Command1", "Form2");
    ASSERT_TRUE(::IsWindowEnabled(rig.control(takeOver ? "Command2" : "Command5", "Form2")));
}

// --- the event character on the line ---------------------------------------------------------------

// COM3's line state as its driver keeps it, read through a handle of the test's own (Wine opens a port a
// second time, Windows would refuse).
std::optional<DCB> lineState(DCB* change = nullptr)
{
    const HANDLE port =
        ::CreateFileW(L"\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return std::nullopt;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(port, &dcb) != 0;
    if (ok && change) {
        change->DCBlength = sizeof *change;
        ok = ::SetCommState(port, change) && ::GetCommState(port, &dcb);
    }
    ::CloseHandle(port);
    return ok ? std::optional<DCB>(dcb) : std::nullopt;
}

// Whether the driver reads back an event character it was given (Wine 8 reads 0, whatever was set).
bool driverKeepsTheEventChar()
{
    std::optional<DCB> dcb = lineState();
    if (!dcb)
        return false;
    dcb->EvtChar = 0x42;
    const std::optional<DCB> after = lineState(&*dcb);
    return after && after->EvtChar == 0x42;
}

struct EventCharRow
{
    const char* port;
    DWORD baud;
    BYTE eventChar;
};

class EventCharTest : public FormsTest, public ::testing::WithParamInterface<EventCharRow>
{};

TEST_P(EventCharTest, isSetWithTheLineSettings)
{
    const EventCharRow& row = GetParam();
    const bool kept = driverKeepsTheEventChar();
    SimulatorConfig config;
    config.readyDelayMs = 300; // "Bereit." stands while the first block is acknowledged late
    config.ackDelayBlock = 1;
    config.ackDelayMs = 500;
    Rig rig(config);
    std::optional<DCB> state;
    if (std::string(row.port) == "control window") {
        ASSERT_TRUE(rig.connect());
        state = lineState();
    } else {
        openAndLoad(rig, true, writeFile(L"Firmware.bin", someImage(5000)));
        if (HasFatalFailure())
            return; // without the update window there is nothing to click
        // Read while the transfer runs on the line it opened at 9600 baud; the look ends with the test.
        const auto watching = std::make_shared<bool>(true);
        struct EndWatch
        {
            std::shared_ptr<bool> watching;
            ~EndWatch() { *watching = false; }
        } endWatch{watching};
        std::function<void()> look = [&, watching] {
            if (!*watching)
                return;
            if (!state && rig.text("Label1", "Form2") == L"Bereit.")
                state = lineState();
            if (!state)
                rig.frontEnd.loop().startTimer(10ms, look);
        };
        look();
        rig.click("Command2", "Form2");
        ASSERT_TRUE(pumpUntil(rig.frontEnd, [&] { return rig.text("Label1", "Form2") == L"Fertig."; }, 10s));
    }
    ASSERT_TRUE(state);
    EXPECT_EQ(state->BaudRate, row.baud);
    EXPECT_TRUE(state->fBinary);
    if (kept)
        EXPECT_EQ(BYTE(state->EvtChar), row.eventChar);
    else
        std::printf("[   NOTE   ] the driver does not keep the event character (Wine): only the line settings "
                    "were read back (EvtChar reads %d)\n",
                    int(BYTE(state->EvtChar)));
    EXPECT_TRUE(rig.boxes.seen().empty()) << rig.boxes.all();
}

INSTANTIATE_TEST_SUITE_P(Ports, EventCharTest,
                         ::testing::Values(EventCharRow{"control window", 19200, 0x0A},
                                           EventCharRow{"update transfer", 9600, 0x06}),
                         [](const auto& info) {
                             return std::string(info.param.port[0] == 'c' ? "controlWindow" : "updateTransfer");
                         });

} // namespace
} // namespace morvandell::win32
