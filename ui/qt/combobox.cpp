#include "ui/qt/combobox.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QWheelEvent>

namespace morvandell::ui::qt {

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(20);
    setFocusPolicy(Qt::StrongFocus); // the wheel alone never gives the focus
    // No inline completion, and no matching of typed text against the entries when the field is left
    // or Enter is pressed: a choice is made by choosing.
    setCompleter(nullptr);
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        m_listIndex = index;
        emit clicked();
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { m_listIndex = -1; });
}

void ComboBox::showPopup()
{
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

void ComboBox::appendItem(const QString& text, const QVariant& data)
{
    const QString shown = lineEdit()->text();
    const QSignalBlocker block(this);
    addItem(text, data);
    // Adding to an empty list makes it current; keep the selection and the edit field as they were.
    if (m_listIndex < 0) {
        setCurrentIndex(-1);
        lineEdit()->setText(shown);
    }
}

void ComboBox::clearList()
{
    const QSignalBlocker block(this);
    clear();
    lineEdit()->clear();
    m_listIndex = -1;
}

void ComboBox::setListIndex(int index)
{
    const QSignalBlocker block(this);
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        m_listIndex = -1;
        return;
    }
    setCurrentIndex(index);
    m_listIndex = index;
}

void ComboBox::keyPressEvent(QKeyEvent* event)
{
    // Enter in the closed list's edit field would look the text up among the entries.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void ComboBox::wheelEvent(QWheelEvent* event)
{
    // Scrolling past a list must not change it.
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}

QString ComboBox::text() const
{
    return lineEdit()->text();
}

void ComboBox::setText(const QString& text)
{
    const QSignalBlocker block(this);
    lineEdit()->setText(text);
    m_listIndex = -1;
}

} // namespace morvandell::ui::qt
