#include "testsupport.h"

#include <QTest>

namespace morvandell::test {

std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, QString>& devices)
{
    std::map<int, PortDirectory::Entry> entries;
    for (auto it = devices.begin(); it != devices.end(); ++it)
        entries[it.key()] = {it.value().toStdString(), "test device", nullptr};
    return std::make_shared<const PortDirectory>(std::move(entries));
}

bool waitUntil(const std::function<bool()>& pred, int ms)
{
    return QTest::qWaitFor(pred, ms);
}

void pick(ComboBox* list, int position)
{
    list->setCurrentIndex(position);
    emit list->activated(position);
}

QWidget* windowOf(ui::FormView& view)
{
    return ui::qt::QtFrontEnd::qtView(view).window();
}

QString text(const ui::FormView& view, const char* control)
{
    return QString::fromStdString(view.text(control));
}

QString caption(const ui::FormView& view)
{
    return QString::fromStdString(view.caption());
}

ComboBox* combo(Form1& form, const char* name)
{
    return control<ComboBox>(form, name);
}

} // namespace morvandell::test
