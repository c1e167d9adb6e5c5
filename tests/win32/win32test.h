#pragma once

// Driving Win32 windows from inside the test program: the loop pumped until something happened,
// keystrokes and mouse through SendInput, modal dialogs answered when they appear.

#include "ui/win32/win32frontend.h"
#include "ui/win32/win32window.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvandell::win32::test {

// Runs the front end's loop until done() holds or the limit passes; whether it held.
bool pumpUntil(Win32FrontEnd& frontEnd, const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Runs the loop for that long.
void pumpFor(Win32FrontEnd& frontEnd, std::chrono::milliseconds time);

// Makes the window the foreground window with the focus on `focus` (the keyboard's target).
void focusWindow(HWND window, HWND focus);
void pressKey(WORD virtualKey, bool control = false, bool shift = false);
void typeText(const std::wstring& text);
// The mouse over the middle of a window, then its wheel turned (one notch up for 1, down for -1).
void turnWheelOver(HWND window, int notches);
void clickAt(HWND window, POINT clientPoint, bool right = false);
// The mouse moved over the middle of a window (enabled or not), as a user moves it there.
void moveMouseOver(HWND window);
// The mouse moved to a point of a window's client area (it arrives there moving).
void moveMouse(HWND window, POINT clientPoint);

// Which of the dialogs with a title is meant (null: any).
using DialogFilter = std::function<bool(HWND dialog)>;

// A visible dialog of this thread ("#32770") with that title (and passing the filter), or null.
HWND findDialog(const std::wstring& title, const DialogFilter& accept = nullptr);
std::wstring textOf(HWND hwnd);

// Calls action(dialog) from the loop (also inside Windows' own modal loops) once a dialog with that
// title is open; gives up after the limit. Returns at once.
void whenDialogAppears(Win32FrontEnd& frontEnd, const std::wstring& title, std::function<void(HWND)> action,
                       DialogFilter accept = nullptr);

// A button of a dialog pressed as the user would (BM_CLICK).
void pressButton(HWND dialog, int id);

// The text of a message box (its static that is not the icon).
std::wstring messageText(HWND box);
bool hasIcon(HWND box);

// Confirms every message box (a dialog with OK and neither Ja nor an edit field) as it appears, from
// the loop, for as long as it lives, and keeps what each said.
class MessageBoxes
{
public:
    struct Seen
    {
        std::wstring title;
        std::wstring text;
        bool icon = false;
    };
    explicit MessageBoxes(Win32FrontEnd& frontEnd);
    ~MessageBoxes();
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    const std::vector<Seen>& seen() const { return m_state->seen; }
    // Every box as "[title] text", one per line, for failure messages.
    std::string all() const;

private:
    struct State
    {
        Win32FrontEnd* frontEnd;
        std::vector<Seen> seen;
        bool stopped = false;
    };
    static void look(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

} // namespace morvandell::win32::test
