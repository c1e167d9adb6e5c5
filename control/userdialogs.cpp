#include "control/userdialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace morvandell {

namespace {

// Name filters match case-insensitively here, also on case-sensitive file systems:
// "XML Files (*.XML)" shows a.xml as well as B.XML.
QString caseInsensitiveFilter(const QString& filter)
{
    static const QRegularExpression patterns(QStringLiteral("\\(([^)]*)\\)"));
    const auto match = patterns.match(filter);
    if (!match.hasMatch())
        return filter;
    QStringList out;
    for (const QString& pattern : match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QString ci;
        for (QChar c : pattern) {
            if (c.isLetter() && c.toLower() != c.toUpper())
                ci += QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper());
            else
                ci += c;
        }
        out << ci;
    }
    return out.join(QLatin1Char(' '));
}

class StandardDialogs : public UserDialogs
{
public:
    void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(title.isEmpty() ? QApplication::applicationDisplayName() : title);
        box.setText(text);
        switch (icon) {
        case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
        case Icon::Information: box.setIcon(QMessageBox::Information); break;
        case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
        case Icon::Error: box.setIcon(QMessageBox::Critical); break;
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
        // The caption keeps the filter's own text; matching ignores letter case.
        if (auto* model = dialog.findChild<QFileSystemModel*>())
            model->setNameFilters(caseInsensitiveFilter(filter).split(QLatin1Char(' ')));
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

UserDialogs& UserDialogs::standard()
{
    static StandardDialogs dialogs;
    return dialogs;
}

} // namespace morvandell
