#pragma once

#include "ui/model/dialogs.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::test {

// The dialogs of the headless front end: every message box, file request, prompt and question is
// recorded; file dialogs and prompts are answered from queues (an empty queue answers Cancel); a
// question that does not block stays open until the test answers it or the window withdraws it.
class ScriptedDialogs final : public ui::Dialogs
{
public:
    struct Message
    {
        ui::FormView* owner;
        std::string title;
        std::string text;
        Icon icon;
    };
    struct FileRequest
    {
        bool save; // a save dialog (else an open dialog)
        std::string title;
        std::string folder; // the folder, or for a save dialog the proposed path
        std::string filter;
    };
    struct Prompt
    {
        std::string title;
        std::string label;
    };
    struct Asked
    {
        ui::FormView* owner;
        std::string title;
        std::string text;
    };

    // What was shown, in order.
    std::vector<Message> messages;
    std::vector<FileRequest> fileRequests;
    std::vector<Prompt> prompts;
    std::vector<Asked> questions;

    // Answers, taken in order: a path, or nullopt for Cancel.
    std::deque<std::optional<std::string>> fileAnswers;
    std::deque<std::optional<std::string>> promptAnswers;

    // Runs while a message box is open, before the user confirms it: a real box is modal and events go
    // on under it, so the hook may look at the windows or run the event loop (a nested wait).
    std::function<void(const Message&)> onMessage;

    // Answers the open question ("Ja": true), as the user does, from where the test runs (usually a
    // timer of the event loop). False when none is open (answered or withdrawn).
    bool answer(bool yes);
    bool questionOpen() const;

    // Whether a message contains the text; every message as "[title] text", joined by " | ".
    bool hasMessage(const std::string& part) const;
    std::string allMessages() const;

    // ui::Dialogs
    void message(ui::FormView* owner, const std::string& title, const std::string& text, Icon icon) override;
    std::optional<std::string> openFileName(ui::FormView* owner, const std::string& title,
                                            const std::string& folder, const std::string& filter) override;
    std::optional<std::string> saveFileName(ui::FormView* owner, const std::string& title,
                                            const std::string& path, const std::string& filter) override;
    std::optional<std::string> textPrompt(ui::FormView* owner, const std::string& title,
                                          const std::string& label) override;
    std::unique_ptr<ui::Dialogs::Question>
    askWithoutBlocking(ui::FormView* owner, const std::string& title, const std::string& text,
                       std::function<void(bool yes)> answered) override;

private:
    struct Open
    {
        bool open = false;
        std::function<void(bool)> answered;
    };
    class OpenQuestion;
    std::optional<std::string> take(std::deque<std::optional<std::string>>& answers);
    std::shared_ptr<Open> m_question;
};

} // namespace morvandell::test
