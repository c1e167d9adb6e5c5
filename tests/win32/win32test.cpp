#include "win32test.h"

#include "windows/wide.h"

#include <memory>
#include <vector>

namespace morvandell::win32::test {

using Clock = std::chrono::steady_clock;

bool pumpUntil(Win32FrontEnd& frontEnd, const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        frontEnd.loop().runOnce(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
    }
    return true;
}

void pumpFor(Win32FrontEnd& frontEnd, std::chrono::milliseconds time)
{
    const auto deadline = Clock::now() + time;
    while (Clock::now() < deadline)
        frontEnd.loop().runOnce(deadline);
}

void focusWindow(HWND window, HWND focus)
{
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ::SetActiveWindow(window);
    ::SetFocus(focus ? focus : window);
}

namespace {

void send(std::vector<INPUT> inputs)
{
    ::SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

INPUT key(WORD vk, bool up)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

POINT centre(HWND window)
{
    RECT r;
    ::GetWindowRect(window, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

INPUT mouseAt(POINT screen, DWORD flags, DWORD data = 0)
{
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = ::MulDiv(screen.x, 65535, ::GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = ::MulDiv(screen.y, 65535, ::GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    in.mi.mouseData = data;
    return in;
}

} // namespace

void pressKey(WORD virtualKey, bool control, bool shift)
{
    std::vector<INPUT> inputs;
    if (control)
        inputs.push_back(key(VK_CONTROL, false));
    if (shift)
        inputs.push_back(key(VK_SHIFT, false));
    inputs.push_back(key(virtualKey, false));
    inputs.push_back(key(virtualKey, true));
    if (shift)
        inputs.push_back(key(VK_SHIFT, true));
    if (control)
        inputs.push_back(key(VK_CONTROL, true));
    send(inputs);
}

void typeText(const std::wstring& text)
{
    std::vector<INPUT> inputs;
    for (const wchar_t c : text) {
        for (const bool up : {false, true}) {
            INPUT in{};
            in.type = INPUT_KEYBOARD;
            in.ki.wScan = c;
            in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
            inputs.push_back(in);
        }
    }
    send(inputs);
}

void turnWheelOver(HWND window, int notches)
{
    const POINT at = centre(window);
    ::SetCursorPos(at.x, at.y);
    send({mouseAt(at, 0), mouseAt(at, MOUSEEVENTF_WHEEL, DWORD(notches * WHEEL_DELTA))});
}

void moveMouseOver(HWND window)
{
    const POINT at = centre(window);
    ::SetCursorPos(at.x - 3, at.y - 3);
    send({mouseAt(POINT{at.x - 2, at.y - 2}, 0), mouseAt(at, 0)});
}

void clickAt(HWND window, POINT clientPoint, bool right)
{
    POINT at = clientPoint;
    ::ClientToScreen(window, &at);
    ::SetCursorPos(at.x, at.y);
    const DWORD down = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    const DWORD up = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    send({mouseAt(at, 0), mouseAt(at, down), mouseAt(at, up)});
}

void moveMouse(HWND window, POINT clientPoint)
{
    POINT at = clientPoint;
    ::ClientToScreen(window, &at);
    send({mouseAt(POINT{at.x + 1, at.y}, 0), mouseAt(at, 0)});
}

HWND findDialog(const std::wstring& title, const DialogFilter& accept)
{
    struct Search
    {
        const std::wstring* title;
        const DialogFilter* accept;
        HWND found = nullptr;
    } search{&title, &accept};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            wchar_t name[64] = {};
            ::GetClassNameW(hwnd, name, 64);
            if (std::wstring(name) == L"#32770" && ::IsWindowVisible(hwnd) && textOf(hwnd) == *s->title &&
                (!*s->accept || (*s->accept)(hwnd))) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring textOf(HWND hwnd)
{
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(size_t(length) + 1, L'\0');
    text.resize(size_t(std::max(0, ::GetWindowTextW(hwnd, text.data(), length + 1))));
    return text;
}

void whenDialogAppears(Win32FrontEnd& frontEnd, const std::wstring& title, std::function<void(HWND)> action,
                       DialogFilter accept)
{
    struct Watcher
    {
        Win32FrontEnd* frontEnd;
        std::wstring title;
        std::function<void(HWND)> action;
        DialogFilter accept;
        Clock::time_point giveUp;
    };
    constexpr auto limit = std::chrono::seconds(10);
    auto watcher = std::make_shared<Watcher>(
        Watcher{&frontEnd, title, std::move(action), std::move(accept), Clock::now() + limit});
    auto look = std::make_shared<std::function<void()>>();
    *look = [watcher, look] {
        if (HWND dialog = findDialog(watcher->title, watcher->accept)) {
            watcher->action(dialog);
            *look = nullptr; // breaks the cycle
            return;
        }
        if (Clock::now() < watcher->giveUp) {
            auto again = *look;
            watcher->frontEnd->loop().startTimer(std::chrono::milliseconds(20), again);
        } else {
            *look = nullptr;
        }
    };
    frontEnd.loop().startTimer(std::chrono::milliseconds(20), *look);
}

void pressButton(HWND dialog, int id)
{
    ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool hasIcon(HWND box)
{
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if ((::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ::IsWindowVisible(child) &&
            ::SendMessageW(child, STM_GETICON, 0, 0))
            return true;
    }
    return false;
}

std::wstring messageText(HWND box)
{
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        ::GetClassNameW(child, name, 32);
        if (_wcsicmp(name, L"Static") == 0 && (::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON &&
            !textOf(child).empty())
            return textOf(child);
    }
    return {};
}

MessageBoxes::MessageBoxes(Win32FrontEnd& frontEnd)
    : m_state(std::make_shared<State>(State{&frontEnd, {}, false}))
{
    look(m_state);
}

MessageBoxes::~MessageBoxes()
{
    m_state->stopped = true;
}

void MessageBoxes::look(std::shared_ptr<State> state)
{
    if (state->stopped)
        return;
    struct Found
    {
        HWND box = nullptr;
    } found;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hwnd, LPARAM data) -> BOOL {
            wchar_t name[64] = {};
            ::GetClassNameW(hwnd, name, 64);
            if (std::wstring(name) != L"#32770" || !::IsWindowVisible(hwnd) || !::IsWindowEnabled(hwnd))
                return TRUE;
            if (!::GetDlgItem(hwnd, IDOK) || ::GetDlgItem(hwnd, IDYES) || ::FindWindowExW(hwnd, nullptr, L"Edit", nullptr) ||
                ::FindWindowExW(hwnd, nullptr, L"ComboBox", nullptr))
                return TRUE;
            reinterpret_cast<Found*>(data)->box = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    if (found.box) {
        state->seen.push_back({textOf(found.box), messageText(found.box), hasIcon(found.box)});
        pressButton(found.box, IDOK);
    }
    state->frontEnd->loop().startTimer(std::chrono::milliseconds(20), [state] { look(state); });
}

std::string MessageBoxes::all() const
{
    std::string out;
    for (const Seen& s : m_state->seen)
        out += "[" + win::narrow(s.title) + "] " + win::narrow(s.text) + "\n";
    return out;
}

} // namespace morvandell::win32::test
