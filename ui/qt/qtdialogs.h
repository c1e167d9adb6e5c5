#pragma once

#include <QString>

#include <functional>
#include <optional>

class QObject;
class QWidget;

namespace morvandell {

// Modal questions and messages. The windows ask through this so that tests can answer them.
class UserDialogs
{
public:
    enum class Icon { None, Information, Warning, Error };

    virtual ~UserDialogs() = default;

    // Modal message box with an OK button. An empty title means the application's title.
    virtual void message(QWidget* parent, const QString& title, const QString& text, Icon icon) = 0;

    // File-open dialog. nullopt on Cancel. filter is in "Description (*.ext)" form.
    virtual std::optional<QString> openFileName(QWidget* parent, const QString& title, const QString& folder,
                                                const QString& filter) = 0;

    // File-save dialog, opened on path: asks before an existing file is replaced; a name typed without an
    // extension gets the filter's. nullopt on Cancel (also the answer of dialogs that cannot save).
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title, const QString& path,
                                                const QString& filter);

    // One-line text prompt. nullopt on Cancel.
    virtual std::optional<QString> textPrompt(QWidget* parent, const QString& title,
                                              const QString& label) = 0;

    // A question with "Ja" and "Nein" ("Nein" the default) that does not block: window-modal over
    // parent, it returns at once and calls answered(true for "Ja") when the user answers, so that work
    // in progress (a transfer) goes on while it is open. Returns the open question; deleting it
    // withdraws the question without an answer.
    virtual QObject* askWithoutBlocking(QWidget* parent, const QString& title, const QString& text,
                                        std::function<void(bool yes)> answered);

    // The real dialogs.
    static UserDialogs& standard();
};

} // namespace morvandell
