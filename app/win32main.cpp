// The Windows program: the control window on the Win32 front end.
#include "app/arguments.h"
#include "control/form1.h"
#include "serial/portdirectory.h"
#include "simulator/demodisplay.h"
#include "ui/win32/win32frontend.h"
#include "ui/win32/win32window.h"
#include "windows/wide.h"

#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// The icon in the program's resources (morvandell.rc).
constexpr int IconResource = 1;

// Text for the user who started the program from a console or a script. A program with windows has no
// console of its own: its output goes where it was redirected, else to the console it was started from,
// else (started from Explorer or a shortcut) into a message box.
void tell(const std::string& text, bool error)
{
    const HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    const std::wstring wide = morvandell::win::widen(text);
    DWORD written = 0;
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN) {
        if (::GetConsoleMode(out, &mode))
            ::WriteConsoleW(out, wide.data(), DWORD(wide.size()), &written, nullptr);
        else
            ::WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            // The console's prompt is already back: the text starts on a line of its own.
            ::WriteConsoleW(console, L"\r\n", 2, &written, nullptr);
            ::WriteConsoleW(console, wide.data(), DWORD(wide.size()), &written, nullptr);
            ::CloseHandle(console);
            ::FreeConsole();
            return;
        }
        ::FreeConsole();
    }
    ::MessageBoxW(nullptr, wide.c_str(), L"Morvandell", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

// The arguments after the program's name, as UTF-8: as the C runtime split them (the shell's
// CommandLineToArgvW would load shell32 and its libraries at every start, for nothing else).
std::vector<std::string> commandLine()
{
    std::vector<std::string> args;
    for (int i = 1; i < __argc && __wargv; ++i)
        args.push_back(morvandell::win::narrow(__wargv[i]));
    return args;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    using morvandell::Arguments;
    const Arguments arguments = Arguments::read(commandLine(), Arguments::Program::Windows);
    if (arguments.action != Arguments::Action::Start) {
        tell(arguments.text, arguments.action == Arguments::Action::Refuse);
        return arguments.exitCode;
    }

    using namespace morvandell;
    int exitCode = 0;
    {
        std::map<int, PortDirectory::Entry> extra;
        if (arguments.demo)
            extra[sim::DemoDisplay::PortNumber] = sim::DemoDisplay::portEntry();
        win32::Win32FrontEnd frontEnd(IconResource);
        Form1 form(frontEnd, PortDirectory::fromSystem(std::move(extra)));
        const win32::Win32Window* window = frontEnd.window(Form1::definition().name);
        if (!window || !window->handle()) {
            // Without its window the program could only wait for nothing.
            tell("morvandell: the window cannot be created: " +
                     win::systemMessage(window ? window->creationError() : 0) + "\r\n",
                 true);
            exitCode = 3;
        } else {
            form.view().showWindow();
            if (!arguments.profile.empty())
                form.openProfileAtStart(arguments.profile); // a profile that cannot be read is reported; the window stays
            exitCode = frontEnd.run();
        }
    }
    return exitCode;
}
