#pragma once

#include "ui/model/dialogs.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace morvandell::win32 {

class Win32FrontEnd;

// The system's dialogs: MessageBoxW, the common file dialogs, and two small dialogs of the program's
// own built from in-memory templates: the one-line prompt (modal) and the Ja/Nein question (modeless, so
// that a transfer waiting in the event loop goes on while it is open).
class Win32Dialogs final : public ui::Dialogs
{
public:
    explicit Win32Dialogs(Win32FrontEnd& frontEnd);

    void message(ui::FormView* owner, const std::string& title, const std::string& text, Icon icon) override;
    std::optional<std::string> openFileName(ui::FormView* owner, const std::string& title,
                                            const std::string& folder, const std::string& filter) override;
    std::optional<std::string> saveFileName(ui::FormView* owner, const std::string& title,
                                            const std::string& path, const std::string& filter) override;
    std::optional<std::string> textPrompt(ui::FormView* owner, const std::string& title,
                                          const std::string& label) override;
    std::unique_ptr<Question> askWithoutBlocking(ui::FormView* owner, const std::string& title,
                                                 const std::string& text,
                                                 std::function<void(bool yes)> answered) override;

    // "Description (*.a *.b);;Other (*.c)" as the file dialogs' filter: pairs of description and
    // patterns ("*.a;*.b"), each ended by a zero, the list by one more.
    static std::wstring fileFilter(const std::string& filter);
    // The extension of the filter's first pattern ("json" of "*.json"); empty for "*" or "*.*".
    static std::wstring defaultExtension(const std::string& filter);

    // Window classes of the program's own dialogs, for tests that look for them.
    static constexpr const wchar_t* DialogClass = L"#32770";
    static constexpr int PromptEditId = 100;
    static constexpr int PromptLabelId = 101;
    static constexpr int QuestionTextId = 102;

private:
    HWND ownerWindow(ui::FormView* owner) const;

    Win32FrontEnd& m_frontEnd;
};

} // namespace morvandell::win32
