#include "ui/win32/win32dialogs.h"

#include "platform/text.h"
#include "ui/win32/dialogtemplate.h"
#include "windows/wide.h"
#include "ui/win32/win32frontend.h"
#include "ui/win32/win32window.h"

#include <commdlg.h>
#include <objbase.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace morvandell::win32 {

using win::narrow;
using win::widen;

namespace {

// The file dialogs' library, loaded when the first file dialog opens: every library loaded at start-up
// delays the control window. The dialogs host shell extensions, which want a single-threaded apartment
// on this thread: it is entered then too, and kept until the program ends.
using FileDialog = BOOL(WINAPI*)(LPOPENFILENAMEW);

FileDialog fileDialog(const char* name)
{
    static const HMODULE library = [] {
        if (const HMODULE ole = ::LoadLibraryW(L"ole32.dll")) {
            using Enter = HRESULT(WINAPI*)(LPVOID, DWORD);
            const FARPROC address = ::GetProcAddress(ole, "CoInitializeEx");
            const auto enter = reinterpret_cast<Enter>(reinterpret_cast<void*>(address));
            if (enter)
                enter(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        }
        return ::LoadLibraryW(L"comdlg32.dll");
    }();
    if (!library)
        return nullptr;
    return reinterpret_cast<FileDialog>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

constexpr int QuestionIconId = 103;
constexpr DWORD PathBufferSize = 32768;

void centerOver(HWND dialog, HWND owner)
{
    RECT box;
    ::GetWindowRect(dialog, &box);
    RECT area;
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), &monitor)) {
        x = std::clamp<int>(x, monitor.rcWork.left, std::max<int>(monitor.rcWork.left, monitor.rcWork.right - width));
        y = std::clamp<int>(y, monitor.rcWork.top, std::max<int>(monitor.rcWork.top, monitor.rcWork.bottom - height));
    }
    ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring nativePath(const std::string& path)
{
    std::wstring wide = widen(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

// --- the one-line prompt -------------------------------------------------------------------------------

struct Prompt
{
    HWND owner = nullptr;
    std::wstring answer;
};

INT_PTR CALLBACK promptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* prompt = reinterpret_cast<Prompt*>(lParam);
        centerOver(dialog, prompt->owner);
        ::SetFocus(::GetDlgItem(dialog, Win32Dialogs::PromptEditId));
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            auto* prompt = reinterpret_cast<Prompt*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            const HWND edit = ::GetDlgItem(dialog, Win32Dialogs::PromptEditId);
            std::wstring text(size_t(::GetWindowTextLengthW(edit)) + 1, L'\0');
            text.resize(size_t(std::max(0, ::GetWindowTextW(edit, text.data(), int(text.size())))));
            prompt->answer = text;
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

// --- the question that does not block --------------------------------------------------------------------

struct QuestionState
{
    Win32FrontEnd* frontEnd = nullptr;
    HWND dialog = nullptr;
    HWND owner = nullptr;
    bool ownerDisabled = false; // by the question, to be enabled again
    int filter = 0;
    std::wstring text;
    std::function<void(bool)> answered;
    std::weak_ptr<QuestionState> self;
    bool open = false;

    // Hands the answer over from the loop: a question withdrawn before that gets none.
    void deliver(bool yes)
    {
        frontEnd->guiLoop().post([weak = self, yes] {
            const auto state = weak.lock();
            if (!state || !state->answered)
                return;
            const auto answered = std::move(state->answered);
            state->answered = nullptr;
            answered(yes);
        });
    }

    // Closes the dialog; the owner gets its input back first, so that it becomes the active window.
    void close()
    {
        if (!open)
            return;
        open = false;
        if (ownerDisabled && ::IsWindow(owner))
            ::EnableWindow(owner, TRUE);
        ownerDisabled = false;
        if (filter)
            frontEnd->guiLoop().removeMessageFilter(filter);
        filter = 0;
        if (::IsWindow(dialog)) {
            ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
            ::DestroyWindow(dialog);
        }
        dialog = nullptr;
    }
};

class OpenQuestion final : public ui::Dialogs::Question
{
public:
    explicit OpenQuestion(std::shared_ptr<QuestionState> state) : m_state(std::move(state)) {}
    ~OpenQuestion() override
    {
        m_state->answered = nullptr; // withdrawn: no answer, also not one on its way
        m_state->close();
    }

private:
    std::shared_ptr<QuestionState> m_state;
};

// Lays the question out for its text: icon, text as wide as it needs (up to a limit), buttons below.
void layoutQuestion(HWND dialog, const QuestionState& state)
{
    const HWND textControl = ::GetDlgItem(dialog, Win32Dialogs::QuestionTextId);
    const HWND icon = ::GetDlgItem(dialog, QuestionIconId);
    const HWND yes = ::GetDlgItem(dialog, IDYES);
    const HWND no = ::GetDlgItem(dialog, IDNO);
    RECT unit{0, 0, 4, 8};
    ::MapDialogRect(dialog, &unit); // 4 x 8 dialog units: one average character
    const int charWidth = unit.right;
    const int lineHeight = unit.bottom;
    const int margin = charWidth * 7 / 4;

    HDC dc = ::GetDC(textControl);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(textControl, WM_GETFONT, 0, 0)));
    RECT need{0, 0, charWidth * 60, 0};
    ::DrawTextW(dc, state.text.c_str(), int(state.text.size()), &need,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    ::SelectObject(dc, old);
    ::ReleaseDC(textControl, dc);

    const int iconSize = ::GetSystemMetrics(SM_CXICON);
    const int buttonWidth = charWidth * 50 / 4;
    const int buttonHeight = lineHeight * 14 / 8;
    const int textLeft = margin + iconSize + margin;
    const int textWidth = std::max<int>(need.right, buttonWidth * 2);
    const int textHeight = std::max<int>(need.bottom, iconSize);
    const int clientWidth = textLeft + textWidth + margin;
    const int buttonsTop = margin + textHeight + margin;
    const int clientHeight = buttonsTop + buttonHeight + margin;

    ::MoveWindow(icon, margin, margin, iconSize, iconSize, FALSE);
    ::MoveWindow(textControl, textLeft, margin, textWidth, textHeight, FALSE);
    ::MoveWindow(no, clientWidth - margin - buttonWidth, buttonsTop, buttonWidth, buttonHeight, FALSE);
    ::MoveWindow(yes, clientWidth - margin - 2 * buttonWidth - charWidth, buttonsTop, buttonWidth, buttonHeight,
                 FALSE);
    RECT frame{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&frame, DWORD(::GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                         DWORD(::GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    ::SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK questionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* state = reinterpret_cast<QuestionState*>(lParam);
        ::SetDlgItemTextW(dialog, Win32Dialogs::QuestionTextId, state->text.c_str());
        ::SendDlgItemMessageW(dialog, QuestionIconId, STM_SETICON,
                              reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_QUESTION)), 0);
        layoutQuestion(dialog, *state);
        centerOver(dialog, state->owner);
        ::SetFocus(::GetDlgItem(dialog, IDNO));
        return FALSE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id != IDYES && id != IDNO && id != IDCANCEL)
            break;
        auto* state = reinterpret_cast<QuestionState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
        if (!state)
            return TRUE;
        // The answer comes from the loop, after the dialog is gone.
        state->close();
        state->deliver(id == IDYES);
        return TRUE;
    }
    default:
        break;
    }
    return FALSE;
}

} // namespace

Win32Dialogs::Win32Dialogs(Win32FrontEnd& frontEnd)
    : m_frontEnd(frontEnd)
{}

HWND Win32Dialogs::ownerWindow(ui::FormView* owner) const
{
    auto* window = dynamic_cast<Win32Window*>(owner);
    if (!window || !window->handle() || !::IsWindow(window->handle()))
        return nullptr;
    return window->handle();
}

void Win32Dialogs::message(ui::FormView* owner, const std::string& title, const std::string& text, Icon icon)
{
    const HWND ownerHwnd = ownerWindow(owner);
    UINT flags = MB_OK | MB_SETFOREGROUND;
    switch (icon) {
    case Icon::None:
        break;
    case Icon::Information:
        flags |= MB_ICONINFORMATION;
        break;
    case Icon::Warning:
        flags |= MB_ICONWARNING;
        break;
    case Icon::Error:
        flags |= MB_ICONERROR;
        break;
    }
    if (!ownerHwnd)
        flags |= MB_TASKMODAL;
    const std::wstring caption = widen(title.empty() ? std::string(Win32FrontEnd::ProgramTitle) : title);
    Win32FrontEnd::ModalScope modal(m_frontEnd, ownerHwnd);
    ::MessageBoxW(ownerHwnd, widen(text).c_str(), caption.c_str(), flags);
}

std::wstring Win32Dialogs::fileFilter(const std::string& filter)
{
    std::wstring out;
    for (const std::string& part : text::split(filter, ';')) {
        const std::string entry = text::trimmed(part);
        if (entry.empty())
            continue; // the empty piece between ";;"
        std::string patterns = "*.*";
        const size_t open = entry.rfind('(');
        const size_t close = entry.rfind(')');
        if (open != std::string::npos && close != std::string::npos && close > open + 1) {
            std::vector<std::string> list;
            for (const std::string& p : text::split(entry.substr(open + 1, close - open - 1), ' '))
                if (!text::trimmed(p).empty())
                    list.push_back(text::trimmed(p));
            if (!list.empty())
                patterns = text::join(list, ";");
        }
        out += widen(entry);
        out += L'\0';
        out += widen(patterns);
        out += L'\0';
    }
    if (out.empty()) {
        out += L"*.*";
        out += L'\0';
        out += L"*.*";
        out += L'\0';
    }
    out += L'\0';
    return out;
}

std::wstring Win32Dialogs::defaultExtension(const std::string& filter)
{
    const size_t star = filter.find("(*.");
    if (star == std::string::npos)
        return {};
    const std::string rest = filter.substr(star + 3);
    const size_t end = rest.find_first_of(" ;)");
    const std::string extension = rest.substr(0, end);
    if (extension.empty() || extension == "*")
        return {};
    return widen(extension);
}

std::optional<std::string> Win32Dialogs::openFileName(ui::FormView* owner, const std::string& title,
                                                      const std::string& folder, const std::string& filter)
{
    const HWND ownerHwnd = ownerWindow(owner);
    const std::wstring filters = fileFilter(filter);
    const std::wstring initialFolder = nativePath(folder);
    const std::wstring caption = widen(title);
    std::vector<wchar_t> file(PathBufferSize, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = ownerHwnd;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = PathBufferSize;
    ofn.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    ofn.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                OFN_ENABLESIZING;
    Win32FrontEnd::ModalScope modal(m_frontEnd, ownerHwnd);
    const FileDialog open = fileDialog("GetOpenFileNameW");
    if (!open || !open(&ofn))
        return std::nullopt;
    return narrow(file.data());
}

std::optional<std::string> Win32Dialogs::saveFileName(ui::FormView* owner, const std::string& title,
                                                      const std::string& path, const std::string& filter)
{
    const HWND ownerHwnd = ownerWindow(owner);
    const std::wstring filters = fileFilter(filter);
    const std::wstring extension = defaultExtension(filter);
    const std::wstring caption = widen(title);
    std::wstring fullPath = nativePath(path);
    std::wstring folder;
    std::wstring name = fullPath;
    if (const size_t slash = fullPath.find_last_of(L'\\'); slash != std::wstring::npos) {
        folder = fullPath.substr(0, slash);
        name = fullPath.substr(slash + 1);
    }
    Win32FrontEnd::ModalScope modal(m_frontEnd, ownerHwnd);
    for (;;) {
        std::vector<wchar_t> file(PathBufferSize, L'\0');
        std::copy_n(name.begin(), std::min<size_t>(name.size(), PathBufferSize - 1), file.begin());
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = ownerHwnd;
        ofn.lpstrFilter = filters.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = PathBufferSize;
        ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        ofn.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
        ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                    OFN_ENABLESIZING;
        const FileDialog save = fileDialog("GetSaveFileNameW");
        if (!save || !save(&ofn))
            return std::nullopt;
        std::wstring chosen = file.data();
        // The dialogs append at most three letters of a default extension: the whole one is added here,
        // and the question before replacing a file is then asked for the name with it.
        const size_t slash = chosen.find_last_of(L'\\');
        const std::wstring base = slash == std::wstring::npos ? chosen : chosen.substr(slash + 1);
        if (extension.empty() || base.find(L'.') != std::wstring::npos)
            return narrow(chosen);
        chosen += L"." + extension;
        if (::GetFileAttributesW(chosen.c_str()) == INVALID_FILE_ATTRIBUTES)
            return narrow(chosen);
        const std::wstring question = chosen.substr(slash == std::wstring::npos ? 0 : slash + 1) +
                                      L" ist bereits vorhanden.\nMöchten Sie die Datei ersetzen?";
        if (::MessageBoxW(ownerHwnd, question.c_str(), caption.empty() ? L"Speichern unter" : caption.c_str(),
                          MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES)
            return narrow(chosen);
        name = base;
        if (slash != std::wstring::npos)
            folder = chosen.substr(0, slash);
    }
}

std::optional<std::string> Win32Dialogs::textPrompt(ui::FormView* owner, const std::string& title,
                                                    const std::string& label)
{
    const HWND ownerHwnd = ownerWindow(owner);
    DialogTemplate dialog(widen(title.empty() ? std::string(Win32FrontEnd::ProgramTitle) : title),
                          WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 186, 62);
    dialog.add(DialogTemplate::Kind::Static, PromptLabelId, widen(label), SS_LEFT | SS_NOPREFIX, 7, 7, 172, 10);
    dialog.add(DialogTemplate::Kind::Edit, PromptEditId, L"", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 19,
               172, 14);
    dialog.add(DialogTemplate::Kind::Button, IDOK, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 75, 41, 50, 14);
    dialog.add(DialogTemplate::Kind::Button, IDCANCEL, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 129, 41, 50, 14);
    Prompt prompt;
    prompt.owner = ownerHwnd;
    Win32FrontEnd::ModalScope modal(m_frontEnd, ownerHwnd);
    const INT_PTR result = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog.get(), ownerHwnd,
                                                     promptProc, reinterpret_cast<LPARAM>(&prompt));
    if (result != IDOK)
        return std::nullopt;
    return narrow(prompt.answer);
}

std::unique_ptr<ui::Dialogs::Question> Win32Dialogs::askWithoutBlocking(ui::FormView* owner,
                                                                         const std::string& title,
                                                                         const std::string& text,
                                                                         std::function<void(bool yes)> answered)
{
    auto state = std::make_shared<QuestionState>();
    state->frontEnd = &m_frontEnd;
    state->owner = ownerWindow(owner);
    state->text = widen(text);
    state->answered = std::move(answered);
    state->self = state;

    DialogTemplate dialog(widen(title.empty() ? std::string(Win32FrontEnd::ProgramTitle) : title),
                          WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 200, 60);
    dialog.add(DialogTemplate::Kind::Static, QuestionIconId, L"", SS_ICON, 7, 7, 21, 20);
    dialog.add(DialogTemplate::Kind::Static, QuestionTextId, L"", SS_LEFT | SS_NOPREFIX, 36, 7, 157, 20);
    dialog.add(DialogTemplate::Kind::Button, IDYES, L"Ja", BS_PUSHBUTTON | WS_TABSTOP, 89, 39, 50, 14);
    dialog.add(DialogTemplate::Kind::Button, IDNO, L"Nein", BS_DEFPUSHBUTTON | WS_TABSTOP, 143, 39, 50, 14);
    state->dialog = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), dialog.get(), state->owner,
                                                 questionProc, reinterpret_cast<LPARAM>(state.get()));
    if (!state->dialog) {
        // No dialog: the question cannot be asked, which answers it as its default does.
        state->deliver(false);
        return std::make_unique<OpenQuestion>(state);
    }
    state->open = true;
    const HWND dialogHwnd = state->dialog;
    state->filter = m_frontEnd.guiLoop().addMessageFilter(
        [dialogHwnd](MSG& msg) { return ::IsWindow(dialogHwnd) && ::IsDialogMessageW(dialogHwnd, &msg); });
    if (state->owner && ::IsWindowEnabled(state->owner)) {
        ::EnableWindow(state->owner, FALSE); // the question belongs to its window, as a modal box would
        state->ownerDisabled = true;
    }
    ::ShowWindow(state->dialog, SW_SHOW);
    return std::make_unique<OpenQuestion>(state);
}

} // namespace morvandell::win32
