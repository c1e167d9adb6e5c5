#pragma once

#include "ui/model/frontend.h"
#include "ui/qt/qtdialogs.h"
#include "ui/qt/qteventloop.h"

namespace morvandell::ui::qt {

class QtFormView;

// The Qt front end: QWidget windows from FormSpecs, the core's event loop over Qt's, Qt's dialogs.
// Needs a QApplication. dialogs: where the windows' questions go (tests answer them); null: Qt's.
class QtFrontEnd final : public FrontEnd
{
public:
    explicit QtFrontEnd(Dialogs* dialogs = nullptr);

    std::unique_ptr<FormView> createWindow(const FormSpec& def, FormEvents& events) override;
    EventLoop& loop() override { return m_loop; }
    Dialogs& dialogs() override { return *m_dialogs; }
    void quit() override;
    // Asks the desktop to open it (Qt runs xdg-open on Linux).
    bool openDocument(const std::string& path) override;

    // The Qt window of a view this front end made.
    static QtFormView& qtView(FormView& view);

private:
    QtEventLoop m_loop;
    QtDialogs m_qtDialogs;
    Dialogs* m_dialogs;
};

} // namespace morvandell::ui::qt
