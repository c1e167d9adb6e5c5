#pragma once

// Helpers of the Qt front end's tests: the windows' handlers on Qt widgets, questions answered by the
// headless front end's script (tests/forms/support), pseudo-terminals from the core tests' support.

#include "coresupport.h"
#include "scripteddialogs.h"

#include "control/form1.h"
#include "serial/portdirectory.h"
#include "ui/qt/combobox.h"
#include "ui/qt/qtformview.h"
#include "ui/qt/qtfrontend.h"

#include <QMap>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace morvandell::test {

using ui::qt::ComboBox;

// A port directory with the given numbers mapped to devices.
std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, QString>& devices);

// Processes events until pred() holds or ms run out.
bool waitUntil(const std::function<bool()>& pred, int ms);

// What a user's pick in a drop-down list does: the entry becomes current, then activated is raised.
void pick(ComboBox* list, int position);

// The Qt widgets of a window, by control name.
QWidget* windowOf(ui::FormView& view);
template<typename W = QWidget> W* control(ui::FormView& view, const char* name)
{
    return qobject_cast<W*>(ui::qt::QtFrontEnd::qtView(view).control(name));
}
template<typename W = QWidget> W* control(Form1& form, const char* name)
{
    return control<W>(form.view(), name);
}
QString text(const ui::FormView& view, const char* control);
QString caption(const ui::FormView& view);
ComboBox* combo(Form1& form, const char* name);

// The control window of a test: the handlers on the Qt front end, questions answered by the script.
struct Windows
{
    ScriptedDialogs dialogs;
    ui::qt::QtFrontEnd frontEnd{&dialogs};
    std::unique_ptr<Form1> makeForm(std::shared_ptr<const PortDirectory> ports)
    {
        return std::make_unique<Form1>(frontEnd, std::move(ports));
    }
};

} // namespace morvandell::test
