#include "scripteddialogs.h"

namespace morvandell::test {

// Withdrawn when the window lets go of it.
class ScriptedDialogs::OpenQuestion final : public ui::Dialogs::Question
{
public:
    explicit OpenQuestion(std::shared_ptr<Open> open)
        : m_open(std::move(open))
    {}
    ~OpenQuestion() override { m_open->open = false; }

private:
    std::shared_ptr<Open> m_open;
};

std::optional<std::string> ScriptedDialogs::take(std::deque<std::optional<std::string>>& answers)
{
    if (answers.empty())
        return std::nullopt;
    std::optional<std::string> answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

void ScriptedDialogs::message(ui::FormView* owner, const std::string& title, const std::string& text,
                              Icon icon)
{
    messages.push_back({owner, title, text, icon});
    if (onMessage) {
        const Message shown = messages.back(); // the hook may show more
        onMessage(shown);
    }
}

std::optional<std::string> ScriptedDialogs::openFileName(ui::FormView*, const std::string& title,
                                                         const std::string& folder, const std::string& filter)
{
    fileRequests.push_back({false, title, folder, filter});
    return take(fileAnswers);
}

std::optional<std::string> ScriptedDialogs::saveFileName(ui::FormView*, const std::string& title,
                                                         const std::string& path, const std::string& filter)
{
    fileRequests.push_back({true, title, path, filter});
    return take(fileAnswers);
}

std::optional<std::string> ScriptedDialogs::textPrompt(ui::FormView*, const std::string& title,
                                                       const std::string& label)
{
    prompts.push_back({title, label});
    return take(promptAnswers);
}

std::unique_ptr<ui::Dialogs::Question>
ScriptedDialogs::askWithoutBlocking(ui::FormView* owner, const std::string& title, const std::string& text,
                                    std::function<void(bool yes)> answered)
{
    questions.push_back({owner, title, text});
    m_question = std::make_shared<Open>();
    m_question->open = true;
    m_question->answered = std::move(answered);
    return std::make_unique<OpenQuestion>(m_question);
}

bool ScriptedDialogs::answer(bool yes)
{
    if (!questionOpen())
        return false;
    const std::shared_ptr<Open> question = m_question; // the answer may ask again
    question->open = false;
    const auto answered = question->answered;
    answered(yes);
    return true;
}

bool ScriptedDialogs::questionOpen() const
{
    return m_question && m_question->open;
}

bool ScriptedDialogs::hasMessage(const std::string& part) const
{
    for (const Message& m : messages)
        if (m.text.find(part) != std::string::npos)
            return true;
    return false;
}

std::string ScriptedDialogs::allMessages() const
{
    std::string all;
    for (const Message& m : messages) {
        if (!all.empty())
            all += " | ";
        all += "[" + m.title + "] " + m.text;
    }
    return all;
}

} // namespace morvandell::test
