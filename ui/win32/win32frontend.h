#pragma once

#include "ui/model/frontend.h"
#include "ui/win32/guieventloop.h"
#include "ui/win32/win32dialogs.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace morvandell::win32 {

class Win32Window;

// The Win32 front end: native top-level windows from FormSpecs, the message pump as the event loop,
// and the system's dialogs. One per program, on the thread that runs the windows.
class Win32FrontEnd final : public ui::FrontEnd
{
public:
    // iconResource: the program's icon in its resources (0: the system's application icon).
    explicit Win32FrontEnd(int iconResource = 0);
    ~Win32FrontEnd() override;

    std::unique_ptr<ui::FormView> createWindow(const ui::FormSpec& def, ui::FormEvents& events) override;
    EventLoop& loop() override { return m_loop; }
    ui::Dialogs& dialogs() override { return m_dialogs; }
    void quit() override { m_loop.quit(); }
    // The program the user's system opens such files with (ShellExecute "open").
    bool openDocument(const std::string& path) override;

    // Runs the windows until quit(); returns the exit code.
    int run() { return m_loop.run(); }
    GuiEventLoop& guiLoop() { return m_loop; }

    // The windows that exist now, oldest first; the newest of a FormSpec name (null when none).
    const std::vector<Win32Window*>& windows() const { return m_windows; }
    Win32Window* window(const std::string& formName) const;

    HICON icon(bool small) const { return small ? m_smallIcon : m_icon; }
    // The program's title, for dialogs without one of their own.
    static constexpr const char* ProgramTitle = "Morvandell";

    // While a modal dialog is open the program's other windows take no input, as with any modal box;
    // the windows keep running (repaint, serial input).
    class ModalScope
    {
    public:
        ModalScope(Win32FrontEnd& frontEnd, HWND owner);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        std::vector<HWND> m_disabled;
    };

private:
    friend class Win32Window;
    void added(Win32Window* window);
    void removed(Win32Window* window);

    GuiEventLoop m_loop;
    Win32Dialogs m_dialogs;
    std::vector<Win32Window*> m_windows;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
};

} // namespace morvandell::win32
