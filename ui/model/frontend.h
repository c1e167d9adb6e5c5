#pragma once

#include "loop/eventloop.h"
#include "ui/model/dialogs.h"
#include "ui/model/form.h"
#include "ui/model/formview.h"

#include <memory>
#include <string>

namespace morvandell::ui {

// A front end (Qt, Win32, or a test's): creates windows from their FormSpec, supplies the event loop
// the handlers wait in and the platform dialogs.
class FrontEnd
{
public:
    virtual ~FrontEnd() = default;

    // A new top-level window, hidden, its controls as its definition says; events go to events, which outlives the
    // view. load() is not raised here: the handler class calls it when it is ready.
    virtual std::unique_ptr<FormView> createWindow(const FormSpec& def, FormEvents& events) = 0;
    virtual EventLoop& loop() = 0;
    virtual Dialogs& dialogs() = 0;
    // Ends the program after the current event (the last window closed).
    virtual void quit() = 0;
    // Opens a local file (the user guide's HTML page) in the program the system has for it, without
    // waiting for that program. False when the system could not start one.
    virtual bool openDocument(const std::string& path)
    {
        (void)path;
        return false;
    }
};

} // namespace morvandell::ui
