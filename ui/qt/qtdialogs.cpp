#include "ui/userdialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QPushButton>

namespace morvandell {

namespace {

class StandardDialogs : public UserDialogs
{
public:
    void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(title.isEmpty() ? QApplication::applicationDisplayName() : title);
        box.setText(text);
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

    std::optional<QString> openFileName(QWidget* parent, const QString& title, const QString& folder,
                                        const QString& filter) override
    {
        QFileDialog dialog(parent, title, folder);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setNameFilter(filter);
        // Qt's own dialog matches name filters regardless of letter case, also on case-sensitive file
        // systems: "*.XML" shows a.xml. The native dialogs may not, so they are not used.
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    std::optional<QString> saveFileName(QWidget* parent, const QString& title, const QString& path,
                                        const QString& filter) override
    {
        QFileDialog dialog(parent, title, path);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setNameFilter(filter);
        dialog.selectFile(path);
        // "Description (*.a.b)": a name without an extension gets ".a.b".
        const qsizetype star = filter.indexOf(QLatin1String("(*."));
        if (star >= 0) {
            const QString rest = filter.mid(star + 3);
            dialog.setDefaultSuffix(rest.left(rest.indexOf(QRegularExpression(QStringLiteral("[ ;)]")))));
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    std::optional<QString> textPrompt(QWidget* parent, const QString& title, const QString& label) override
    {
        bool ok = false;
        const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return text;
    }
};

} // namespace

std::optional<QString> UserDialogs::saveFileName(QWidget*, const QString&, const QString&, const QString&)
{
    return std::nullopt;
}

QObject* UserDialogs::askWithoutBlocking(QWidget* parent, const QString& title, const QString& text,
                                         std::function<void(bool yes)> answered)
{
    auto* box = new QMessageBox(QMessageBox::Question,
                                title.isEmpty() ? QApplication::applicationDisplayName() : title, text,
                                QMessageBox::NoButton, parent);
    QPushButton* yes = box->addButton(QStringLiteral("Ja"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("Nein"), QMessageBox::NoRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, yes, answered = std::move(answered)] { answered(box->clickedButton() == yes); });
    box->open();
    return box;
}

UserDialogs& UserDialogs::standard()
{
    static StandardDialogs dialogs;
    return dialogs;
}

} // namespace morvandell
