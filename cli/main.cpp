// morvandell-cli: configure, reset and update the display from a shell, without a window.

#include "cli/clitool.h"
#include "cli/invocation.h"
#include "serial/portdirectory.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include "windows/waiteventloop.h"

#include <windows.h>
#include <shellapi.h>
#else
#include "unix/polleventloop.h"
#endif

namespace {

// The arguments after the program name, as UTF-8.
std::vector<std::string> arguments(int argc, char* argv[])
{
    std::vector<std::string> args;
#ifdef _WIN32
    // The console hands over UTF-16; argv is in the ANSI code page and loses characters.
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? std::size_t(size) : 1, '\0');
        if (size > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        arg.resize(arg.size() - 1); // the terminating zero
        args.push_back(arg);
    }
    if (wide)
        ::LocalFree(wide);
#else
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
#endif
    return args;
}

} // namespace

int main(int argc, char* argv[])
{
#ifdef _WIN32
    // Every text this program prints is UTF-8.
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    std::string error;
    const auto invocation = morvandell::Invocation::parse(arguments(argc, argv), &error);
    if (!invocation) {
        std::fprintf(stderr, "morvandell-cli: %s (morvandell-cli --help zeigt die Aufrufe)\n", error.c_str());
        return morvandell::ExitStatus::Usage;
    }
    if (invocation->help) {
        std::fputs(morvandell::Invocation::usage().c_str(), stdout);
        return morvandell::ExitStatus::Done;
    }
    if (invocation->version) {
        std::printf("morvandell-cli %s\n", MORVANDELL_VERSION);
        return morvandell::ExitStatus::Done;
    }
#ifdef _WIN32
    morvandell::WaitEventLoop loop;
#else
    morvandell::PollEventLoop loop;
#endif
    morvandell::CliTool tool(loop, morvandell::PortDirectory::fromSystem());
    return tool.run(*invocation);
}
