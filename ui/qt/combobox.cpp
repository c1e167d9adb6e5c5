#include "ui/qt/combobox.h"

#include "ui/model/form.h"

#include <QAbstractItemView>
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
    setMaxVisibleItems(ui::DropDownEntries);
    setFocusPolicy(Qt::StrongFocus); // the wheel alone never gives the focus
    // No inline completion, and no matching of typed text against the entries when the field is left
    // or Enter is pressed: a choice is made by choosing.
    setCompleter(nullptr);
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (m_typed) {
            // Enter in the list opened over typed text: the text stays as typed, nothing is chosen.
            const QSignalBlocker block(this);
            setCurrentIndex(-1);
            lineEdit()->setText(m_typedText);
            m_listIndex = -1;
            return;
        }
        m_listIndex = index;
        emit clicked();
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        m_listIndex = -1;
        m_typed = true;
        m_typedText = text;
    });
    // Moving through the open list, with the keys or the mouse, is choosing.
    view()->installEventFilter(this);
    view()->viewport()->installEventFilter(this);
}

namespace {

bool movesThroughEntries(int key)
{
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

} // namespace

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view() || watched == view()->viewport()) {
        if ((event->type() == QEvent::KeyPress && movesThroughEntries(static_cast<QKeyEvent*>(event)->key())) ||
            event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)
            m_typed = false;
    }
    return QComboBox::eventFilter(watched, event);
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
    m_typed = false;
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
    if (movesThroughEntries(event->key()))
        m_typed = false;
    QComboBox::keyPressEvent(event);
}

void ComboBox::wheelEvent(QWheelEvent* event)
{
    // Scrolling past a list must not change it.
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    m_typed = false;
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
    m_typed = false;
}

} // namespace morvandell::ui::qt
