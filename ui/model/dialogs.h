#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morvandell::ui {

class FormView;

// Modal questions and messages, through the front end's platform dialogs. The windows ask through this
// so that tests can answer them. owner: the window the dialog belongs to (null: none). Texts UTF-8.
class Dialogs
{
public:
    enum class Icon { None, Information, Warning, Error };

    virtual ~Dialogs() = default;

    // Modal message box with an OK button. An empty title means the program's title.
    virtual void message(FormView* owner, const std::string& title, const std::string& text, Icon icon) = 0;

    // File-open dialog in folder. filter: "Description (*.ext)". nullopt on Cancel. A UTF-8 path.
    virtual std::optional<std::string> openFileName(FormView* owner, const std::string& title,
                                                    const std::string& folder, const std::string& filter) = 0;

    // File-save dialog, opened on path: asks before an existing file is replaced; a name typed without
    // an extension gets the filter's. nullopt on Cancel.
    virtual std::optional<std::string> saveFileName(FormView* owner, const std::string& title,
                                                    const std::string& path, const std::string& filter) = 0;

    // One-line text prompt (edit field, OK, Cancel). nullopt on Cancel.
    virtual std::optional<std::string> textPrompt(FormView* owner, const std::string& title,
                                                  const std::string& label) = 0;

    // A question with "Ja" and "Nein" ("Nein" the default) that does not block: it returns at once, so
    // that work in progress (a transfer) goes on while it is open. Every front end answers by one rule:
    // - The answer comes once, as answered(true for "Ja"), from the event loop after the dialog has
    //   closed: never from inside the click, so it meets the asker between two of its steps, as any
    //   other event does.
    // - An answer the user gave counts, also when the asker withdraws the question before the answer
    //   arrives (its work ended in between): the asker gets it and decides what it means now.
    // - Destroying the returned object before the user answered withdraws the question: the dialog
    //   closes and no answer comes.
    class Question
    {
    public:
        virtual ~Question() = default;
    };
    virtual std::unique_ptr<Question> askWithoutBlocking(FormView* owner, const std::string& title,
                                                         const std::string& text,
                                                         std::function<void(bool yes)> answered) = 0;
};

} // namespace morvandell::ui
