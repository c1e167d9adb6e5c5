// morvandell.exe as the user starts it: its answers to --help and --version, a wrong argument, the demo
// display, a profile named on the command line, F1 for the user guide. The program runs in a process of
// its own; its window is read from here through its controls' messages.
#include "win32test.h"

#include "control/form1.h"
#include "platform/files.h"
#include "windows/wide.h"
#include "writer/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace morvandell::win32 {
namespace {

using namespace std::chrono_literals;

// A Unix path as Windows sees it: on Wine's Z: drive.
std::wstring windowsPath(const std::string& unix)
{
    std::wstring path = L"Z:" + win::widen(unix);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The program under test, as CTest names it.
std::wstring programPath()
{
    return windowsPath(files::environment("MORVANDELL_PROGRAM").value_or(""));
}

struct Finished
{
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::string drain(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

class Program
{
public:
    // Starts the program with these arguments; its output goes to pipes of this test.
    explicit Program(const std::wstring& arguments)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        ::CreatePipe(&m_outRead, &m_outWrite, &inherit, 0);
        ::CreatePipe(&m_errRead, &m_errWrite, &inherit, 0);
        ::SetHandleInformation(m_outRead, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(m_errRead, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = m_outWrite;
        startup.hStdError = m_errWrite;
        std::wstring commandLine = L"\"" + programPath() + L"\" " + arguments;
        m_started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &m_process);
        ::CloseHandle(m_outWrite);
        ::CloseHandle(m_errWrite);
    }
    ~Program()
    {
        if (m_started && ::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(m_process.hProcess, 99);
        if (m_started) {
            ::CloseHandle(m_process.hProcess);
            ::CloseHandle(m_process.hThread);
        }
        ::CloseHandle(m_outRead);
        ::CloseHandle(m_errRead);
    }
    bool started() const { return m_started; }

    // Waits for the end (within the limit) and takes what it wrote.
    Finished finish(std::chrono::milliseconds limit = 10s)
    {
        Finished f;
        if (!m_started)
            return f;
        f.out = drain(m_outRead);
        f.err = drain(m_errRead);
        if (::WaitForSingleObject(m_process.hProcess, DWORD(limit.count())) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(m_process.hProcess, &f.exitCode);
        return f;
    }

    // The program's window of that caption, once it is shown (null when none within the limit).
    HWND window(const std::wstring& caption, std::chrono::milliseconds limit = 15s)
    {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < giveUp) {
            HWND found = nullptr;
            while ((found = ::FindWindowExW(nullptr, found, Win32Window::WindowClass, caption.c_str()))) {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(found, &pid);
                if (pid == m_process.dwProcessId && ::IsWindowVisible(found))
                    return found;
            }
            ::Sleep(50);
        }
        return nullptr;
    }

private:
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
    HANDLE m_outRead = nullptr, m_outWrite = nullptr, m_errRead = nullptr, m_errWrite = nullptr;
};

// A window's text as its window procedure gives it (GetWindowText would give another process only the
// caption stored at creation).
std::wstring textOf(HWND hwnd)
{
    wchar_t buffer[512] = {};
    ::SendMessageW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

HWND controlOf(HWND window, const char* name)
{
    return ::GetDlgItem(window, Win32Window::controlId(Form1::definition(), name));
}

std::wstring comboEntry(HWND combo, int index)
{
    std::wstring text(size_t(::SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(index), 0)) + 1, L'\0');
    text.resize(size_t(std::max<LRESULT>(0, ::SendMessageW(combo, CB_GETLBTEXT, WPARAM(index),
                                                           reinterpret_cast<LPARAM>(text.data())))));
    return text;
}

struct ArgumentRow
{
    const wchar_t* arguments;
    DWORD exitCode;
    bool onStderr;
    const char* says;
};

class ArgumentTest : public ::testing::TestWithParam<ArgumentRow>
{};

TEST_P(ArgumentTest, theProgramAnswersOnTheConsoleAndEnds)
{
    const ArgumentRow& row = GetParam();
    Program program(row.arguments);
    ASSERT_TRUE(program.started());
    const Finished f = program.finish();
    EXPECT_EQ(f.exitCode, row.exitCode);
    const std::string& said = row.onStderr ? f.err : f.out;
    EXPECT_NE(said.find(row.says), std::string::npos) << "out: " << f.out << "\nerr: " << f.err;
    EXPECT_TRUE((row.onStderr ? f.out : f.err).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentTest,
    ::testing::Values(ArgumentRow{L"--version", 0, false, "morvandell " MORVANDELL_VERSION "\r\n"},
                      ArgumentRow{L"-v", 0, false, "morvandell " MORVANDELL_VERSION},
                      ArgumentRow{L"--help", 0, false, "Usage: morvandell [--demo] [PROFILE]"},
                      ArgumentRow{L"/?", 0, false, "--demo"},
                      ArgumentRow{L"--demo --help", 0, false, "Usage:"},
                      ArgumentRow{L"--bogus", 1, true, "unknown argument: --bogus (see morvandell --help)"},
                      ArgumentRow{L"a.morvandell.json b.morvandell.json", 1, true, "unknown argument: b.morvandell.json"}));

TEST(Program, theDemoDisplayIsComOneAndClosingTheWindowEndsTheProgram)
{
    Program program(L"--demo");
    const HWND window = program.window(L"Morvandell:");
    ASSERT_NE(window, nullptr);
    const HWND ports = controlOf(window, "Combo5");
    ASSERT_GE(::SendMessageW(ports, CB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(comboEntry(ports, 0), L"Com #1");
    EXPECT_EQ(textOf(ports), L"Port");
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.finish().exitCode, 0u);
}

TEST(Program, aProfileNamedOnTheCommandLineIsLoaded)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const auto folder = std::filesystem::path(temp) / L"Profil Ö";
    std::filesystem::create_directories(folder);
    const auto logDefinition = folder / L"Version_1.xml";
    std::ofstream(logDefinition) << "<channels>\r\n"
                                    "\t<channel name=\"RPM\" channel=\"12\" unit=\"rpm\" divider=\"1\"/>\r\n"
                                    "\t<channel name=\"Oil_P\" channel=\"13\" unit=\"bar\" divider=\"10\"/>\r\n"
                                    "</channels>\r\n";
    DisplayConfiguration configuration;
    configuration.logDefinition = win::narrow(logDefinition.wstring());
    configuration.defaultView = 2;
    configuration.slotSettings[1] = SlotSetting{"Oil_P", 13, 10, "Oeldruck", "bar"};
    const auto profile = folder / L"auto.morvandell.json";
    std::string error;
    ASSERT_TRUE(Profile::save(win::narrow(profile.wstring()), configuration, &error)) << error;

    Program program(L"\"" + profile.wstring() + L"\"");
    const HWND window = program.window(L"Morvandell:");
    ASSERT_NE(window, nullptr);
    // Loading happens after the window is shown: give it a moment.
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (textOf(controlOf(window, "Text1")) != L"Oeldruck" && std::chrono::steady_clock::now() < giveUp)
        ::Sleep(50);
    EXPECT_EQ(textOf(controlOf(window, "Text1")), L"Oeldruck");
    EXPECT_EQ(textOf(controlOf(window, "Text5")), L"bar");
    EXPECT_EQ(textOf(controlOf(window, "Combo1")), L"Oil_P");
    EXPECT_EQ(::SendMessageW(controlOf(window, "Combo1"), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(textOf(controlOf(window, "Combo10")), L"Seite #2 : 5-8");
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.finish().exitCode, 0u);
    std::filesystem::remove_all(folder);
}

// F1 in the control window asks Windows to open the user guide's page of the user's language. Wine hands
// an .html file to winebrowser, which runs the host's xdg-open: CTest puts one first on PATH that writes
// down what it is asked to open. Every Windows associates .html with its browser; in Wine that comes with
// its HTML engine, which the tests' prefix leaves out, so the test makes the association itself. A Wine
// program takes its UI language from the Unix locale it was started in, which the program inherits from
// this test: CTest runs the test once in English and once in German (MORVANDELL_LANGUAGE names which).
TEST(Program, f1OpensTheGuideOfTheUsersLanguage)
{
    const std::string language = files::environment("MORVANDELL_LANGUAGE").value_or("en");
    ASSERT_EQ(files::userLanguage(), language);
    const wchar_t htmlFile[] = L"htmlfile";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.html", nullptr, REG_SZ, htmlFile,
                                sizeof htmlFile),
              ERROR_SUCCESS);
    const std::string log = files::environment("MORVANDELL_BROWSER_LOG").value_or("");
    const std::string guide = files::environment("MORVANDELL_GUIDE").value_or("");
    ASSERT_FALSE(log.empty() || guide.empty());
    ::DeleteFileW(windowsPath(log).c_str());

    Program program(L"--demo");
    const HWND window = program.window(L"Morvandell:");
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_KEYDOWN, VK_F1, 0x003B0001);
    ::PostMessageW(window, WM_KEYUP, VK_F1, LPARAM(0xC03B0001));

    std::string opened;
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (opened.empty() && std::chrono::steady_clock::now() < giveUp) {
        ::Sleep(100);
        std::ifstream(std::filesystem::path(windowsPath(log))) >> opened;
    }
    EXPECT_EQ(opened, "file://" + guide + "/" + (language == "de" ? "index.html" : "en.html"));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.finish().exitCode, 0u);
}

} // namespace
} // namespace morvandell::win32
