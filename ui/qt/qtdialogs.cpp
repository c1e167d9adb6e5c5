#include "ui/qt/qtdialogs.h"

#include "ui/qt/qtformview.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>

namespace morvandell::ui::qt {

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string s(const QString& q)
{
    return q.toStdString();
}

QString titleOrProgram(const std::string& title)
{
    return title.empty() ? QApplication::applicationDisplayName() : q(title);
}

// An open question; destroying it withdraws the box without an answer.
class BoxQuestion final : public Dialogs::Question
{
public:
    explicit BoxQuestion(QMessageBox* box)
        : m_box(box)
    {}
    ~BoxQuestion() override
    {
        if (!m_box)
            return;
        QObject::disconnect(m_box, &QMessageBox::finished, nullptr, nullptr);
        m_box->hide();
        m_box->deleteLater(); // it may be the box whose answer is being delivered
    }

private:
    QPointer<QMessageBox> m_box;
};

} // namespace

QWidget* windowOf(FormView* view)
{
    auto* qtView = dynamic_cast<QtFormView*>(view);
    return qtView ? qtView->window() : nullptr;
}

void QtDialogs::message(FormView* owner, const std::string& title, const std::string& text, Icon icon)
{
    QMessageBox box(windowOf(owner));
    box.setWindowTitle(titleOrProgram(title));
    box.setText(q(text));
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<std::string> QtDialogs::openFileName(FormView* owner, const std::string& title,
                                                   const std::string& folder, const std::string& filter)
{
    QFileDialog dialog(windowOf(owner), q(title), q(folder));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilter(q(filter));
    // Qt's own dialog matches name filters regardless of letter case, also on case-sensitive file
    // systems: "*.XML" shows a.xml. The native dialogs may not, so they are not used.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return s(dialog.selectedFiles().constFirst());
}

std::optional<std::string> QtDialogs::saveFileName(FormView* owner, const std::string& title,
                                                   const std::string& path, const std::string& filter)
{
    QFileDialog dialog(windowOf(owner), q(title), q(path));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const QString nameFilter = q(filter);
    dialog.setNameFilter(nameFilter);
    dialog.selectFile(q(path));
    // "Description (*.a.b)": a name without an extension gets ".a.b".
    const qsizetype star = nameFilter.indexOf(QLatin1String("(*."));
    if (star >= 0) {
        const QString rest = nameFilter.mid(star + 3);
        dialog.setDefaultSuffix(rest.left(rest.indexOf(QRegularExpression(QStringLiteral("[ ;)]")))));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return s(dialog.selectedFiles().constFirst());
}

std::optional<std::string> QtDialogs::textPrompt(FormView* owner, const std::string& title,
                                                 const std::string& label)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(windowOf(owner), q(title), q(label), QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return s(text);
}

std::unique_ptr<Dialogs::Question> QtDialogs::askWithoutBlocking(FormView* owner, const std::string& title,
                                                                 const std::string& text,
                                                                 std::function<void(bool yes)> answered)
{
    // Window-modal and opened without a loop of its own: a transfer underneath keeps running.
    auto* box = new QMessageBox(QMessageBox::Question, titleOrProgram(title), q(text), QMessageBox::NoButton,
                                windowOf(owner));
    QPushButton* yes = box->addButton(QStringLiteral("Ja"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("Nein"), QMessageBox::NoRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, yes, answered = std::move(answered)] {
        const bool isYes = box->clickedButton() == yes;
        box->deleteLater();
        // From the event loop, and also when the question is withdrawn before then (dialogs.h).
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [answered, isYes] { answered(isYes); }, Qt::QueuedConnection);
    });
    box->open();
    return std::make_unique<BoxQuestion>(box);
}

} // namespace morvandell::ui::qt
