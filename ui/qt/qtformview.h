#pragma once

#include "ui/model/form.h"
#include "ui/model/formview.h"

#include <map>
#include <memory>
#include <string>

class QAction;
class QWidget;

namespace morvandell::ui::qt {

// A window of the Qt front end: QWidgets made from a FormSpec (object names are the control names,
// geometry twips / 15 pixels, the windows' font), whose user events go to the window's FormEvents.
// Nothing here decides what an event does. Calls through FormView raise no events.
class QtFormView final : public FormView
{
public:
    QtFormView(const FormSpec& def, FormEvents& events);
    ~QtFormView() override;
    QtFormView(const QtFormView&) = delete;
    QtFormView& operator=(const QtFormView&) = delete;

    // The top-level widget, and a control by name (null when there is none).
    QWidget* window() const;
    QWidget* control(const std::string& name) const;
    // The action of a window-menu entry by its id (null when there is none).
    QAction* action(const std::string& id) const;

    void setCaption(const std::string& caption) override;
    std::string caption() const override;
    void showWindow() override;
    void hideWindow() override;
    bool isWindowVisible() const override;

    std::string text(const std::string& control) const override;
    void setText(const std::string& control, const std::string& text) override;
    bool isEnabled(const std::string& control) const override;
    void setEnabled(const std::string& control, bool enabled) override;
    void setToolTip(const std::string& control, const std::string& toolTip) override;
    void setFocus(const std::string& control) override;
    void setBackColor(const std::string& control, std::optional<std::uint32_t> rgb) override;
    std::optional<std::uint32_t> backColor(const std::string& control) const override;
    void setBusy(bool busy) override;

    void addItem(const std::string& control, const std::string& text, const std::string& toolTip = {}) override;
    void insertItem(const std::string& control, int index, const std::string& text) override;
    void removeItem(const std::string& control, int index) override;
    void clearItems(const std::string& control) override;
    int itemCount(const std::string& control) const override;
    std::string itemText(const std::string& control, int index) const override;
    int listIndex(const std::string& control) const override;
    void setListIndex(const std::string& control, int index) override;

    void setRange(const std::string& control, int minimum, int maximum) override;
    void setValue(const std::string& control, int value) override;
    int value(const std::string& control) const override;

private:
    class Window;
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace morvandell::ui::qt
