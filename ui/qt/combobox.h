#pragma once

#include <QComboBox>
#include <QVariant>

namespace morvandell::ui::qt {

// A drop-down list with an edit field, as the windows use them: entries are appended without changing
// what the edit field shows, and clicked() is raised only when the user picks an entry: in the opened
// list (mouse or keys), or with the arrow keys or the wheel while the closed list has the keyboard
// focus. Typing never selects or completes anything: typed text leaves the list with no entry selected
// (listIndex() -1), whether the user then presses Enter, Tab, Enter in the opened list (unless the keys
// or the mouse moved through its entries first) or leaves the field. The wheel over a list
// without the focus does nothing to it.
class ComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);

    void appendItem(const QString& text, const QVariant& data = {});
    // Removes every entry; the edit field is left empty.
    void clearList();
    // Selected position, -1 when nothing is selected.
    int listIndex() const { return m_listIndex; }
    void setListIndex(int index);
    // The edit field's text.
    QString text() const;
    void setText(const QString& text);
    void showPopup() override;

signals:
    void clicked();
    // The list is about to drop down: the last moment to bring its entries up to date.
    void aboutToShowPopup();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int m_listIndex = -1;
    bool m_typed = false; // text typed since the last choice: the open list's Enter chooses nothing
    QString m_typedText;
};

} // namespace morvandell::ui::qt
