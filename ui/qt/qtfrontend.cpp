#include "ui/qt/qtfrontend.h"

#include "ui/qt/qtformview.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace morvandell::ui::qt {

QtFrontEnd::QtFrontEnd(Dialogs* dialogs)
    : m_dialogs(dialogs ? dialogs : &m_qtDialogs)
{}

std::unique_ptr<FormView> QtFrontEnd::createWindow(const FormSpec& def, FormEvents& events)
{
    return std::make_unique<QtFormView>(def, events);
}

void QtFrontEnd::quit()
{
    // After the current event; the loop sees the application's Quit and ends every wait.
    QCoreApplication::quit();
}

bool QtFrontEnd::openDocument(const std::string& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

QtFormView& QtFrontEnd::qtView(FormView& view)
{
    return dynamic_cast<QtFormView&>(view);
}

} // namespace morvandell::ui::qt
