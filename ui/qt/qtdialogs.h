#pragma once

#include "ui/model/dialogs.h"

class QWidget;

namespace morvandell::ui::qt {

// The platform dialogs in Qt: message boxes, Qt's own file dialogs (their name filters ignore letter
// case, also on case-sensitive file systems), the one-line prompt and the window-modal question that
// does not block. Over the window of the owner's view (a QtFormView), or none.
class QtDialogs final : public Dialogs
{
public:
    void message(FormView* owner, const std::string& title, const std::string& text, Icon icon) override;
    std::optional<std::string> openFileName(FormView* owner, const std::string& title, const std::string& folder,
                                            const std::string& filter) override;
    std::optional<std::string> saveFileName(FormView* owner, const std::string& title, const std::string& path,
                                            const std::string& filter) override;
    std::optional<std::string> textPrompt(FormView* owner, const std::string& title,
                                          const std::string& label) override;
    std::unique_ptr<Question> askWithoutBlocking(FormView* owner, const std::string& title,
                                                 const std::string& text,
                                                 std::function<void(bool yes)> answered) override;
};

// The Qt window behind a view of the Qt front end; null for any other.
QWidget* windowOf(FormView* view);

} // namespace morvandell::ui::qt
