// The user of the headless front end: HeadlessView's actions. A control that a user could not use now
// is tried as a user tries it: nothing happens.
#include "frontenddriver.h"

#include "headlessfrontend.h"

namespace morvandell::contract {
namespace {

using test::HeadlessView;

HeadlessView& h(ui::FormView& view)
{
    return test::HeadlessFrontEnd::viewOf(view);
}

class HeadlessDriver final : public FrontEndDriver
{
public:
    ui::FrontEnd& frontEnd() override { return m_frontEnd; }
    // The user's actions take effect at once here: what is pending runs, no time needs to pass.
    void settle(std::chrono::milliseconds) override { m_frontEnd.loop().runOnce(EventLoop::Clock::now()); }
    void activate(ui::FormView& view) override { view.showWindow(); }

    void click(ui::FormView& view, const std::string& c) override
    {
        if (h(view).canUse(c))
            h(view).click(c);
    }
    void clickLine(ui::FormView& view, const std::string& list, int line) override { h(view).pick(list, line); }
    void openList(ui::FormView& view, const std::string& combo) override { h(view).dropDown(combo); }
    void clickEntry(ui::FormView& view, const std::string& combo, int i) override { h(view).pick(combo, i); }
    void focus(ui::FormView& view, const std::string& c) override { h(view).focus(c); }
    void typeOver(ui::FormView& view, const std::string& c, const std::string& text) override
    {
        h(view).type(c, text);
    }
    void press(ui::FormView& view, const Key& key) override { h(view).press(key); }
    void shortcut(ui::FormView& view, const std::string& keys) override { h(view).shortcut(keys); }
    void wheel(ui::FormView& view, const std::string& c) override { h(view).wheel(c, -1); }
    void chooseFromMenu(ui::FormView& view, const std::string& c, int entry) override
    {
        // A control without a menu of its own shows the window's.
        const std::vector<std::string> ids = h(view).menu(c).empty() ? h(view).menu() : h(view).menu(c);
        h(view).command(ids.at(std::size_t(entry)));
    }
    void closeBox(ui::FormView& view) override { h(view).close(); }
    void resize(ui::FormView& view, int width, int height) override { h(view).resize(width, height); }

    std::string focused(ui::FormView& view) override { return h(view).focused(); }
    int shownEntries(ui::FormView& view, const std::string& c) override { return h(view).shownEntries(c); }
    bool busyCursor(ui::FormView& view) override { return h(view).isBusy(); }
    int clientWidth(ui::FormView& view) override { return h(view).clientWidth(); }
    int clientHeight(ui::FormView& view) override { return h(view).clientHeight(); }

private:
    test::HeadlessFrontEnd m_frontEnd;
};

} // namespace

std::unique_ptr<FrontEndDriver> makeDriver()
{
    return std::make_unique<HeadlessDriver>();
}

} // namespace morvandell::contract
