#include "ui/win32/win32frontend.h"

#include "ui/win32/win32window.h"
#include "windows/wide.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>

namespace morvandell::win32 {

Win32FrontEnd::Win32FrontEnd(int iconResource)
    : m_dialogs(*this)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&controls);

    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (iconResource) {
        m_icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(iconResource), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                 LR_DEFAULTCOLOR));
        m_smallIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(iconResource), IMAGE_ICON,
                                                      ::GetSystemMetrics(SM_CXSMICON),
                                                      ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    }
}

Win32FrontEnd::~Win32FrontEnd()
{
    if (m_icon)
        ::DestroyIcon(m_icon);
    if (m_smallIcon)
        ::DestroyIcon(m_smallIcon);
}

std::unique_ptr<ui::FormView> Win32FrontEnd::createWindow(const ui::FormSpec& def, ui::FormEvents& events)
{
    return std::make_unique<Win32Window>(*this, def, events);
}

namespace {

// The shell's library, loaded when the first document is opened: every library loaded at start-up delays
// the control window. The shell may hand the document to extensions, which want a single-threaded
// apartment on this thread: it is entered then too (as for the file dialogs), and kept until the end.
using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

ShellExecuteFunction shellExecute()
{
    static const ShellExecuteFunction function = []() -> ShellExecuteFunction {
        if (const HMODULE ole = ::LoadLibraryW(L"ole32.dll")) {
            using Enter = HRESULT(WINAPI*)(LPVOID, DWORD);
            const auto enter = reinterpret_cast<Enter>(reinterpret_cast<void*>(::GetProcAddress(ole, "CoInitializeEx")));
            if (enter)
                enter(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        }
        const HMODULE shell = ::LoadLibraryW(L"shell32.dll");
        if (!shell)
            return nullptr;
        return reinterpret_cast<ShellExecuteFunction>(reinterpret_cast<void*>(::GetProcAddress(shell, "ShellExecuteW")));
    }();
    return function;
}

} // namespace

bool Win32FrontEnd::openDocument(const std::string& path)
{
    const ShellExecuteFunction open = shellExecute();
    if (!open)
        return false;
    // Values above 32 mean success.
    return reinterpret_cast<INT_PTR>(open(nullptr, L"open", win::widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

Win32Window* Win32FrontEnd::window(const std::string& formName) const
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        if ((*it)->definition().name == formName)
            return *it;
    return nullptr;
}

void Win32FrontEnd::added(Win32Window* window)
{
    m_windows.push_back(window);
}

void Win32FrontEnd::removed(Win32Window* window)
{
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), window), m_windows.end());
}

Win32FrontEnd::ModalScope::ModalScope(Win32FrontEnd& frontEnd, HWND owner)
{
    for (Win32Window* window : frontEnd.windows()) {
        const HWND hwnd = window->handle();
        if (hwnd && hwnd != owner && ::IsWindowEnabled(hwnd)) {
            ::EnableWindow(hwnd, FALSE);
            m_disabled.push_back(hwnd);
        }
    }
}

Win32FrontEnd::ModalScope::~ModalScope()
{
    for (HWND hwnd : m_disabled)
        if (::IsWindow(hwnd))
            ::EnableWindow(hwnd, TRUE);
}

} // namespace morvandell::win32
