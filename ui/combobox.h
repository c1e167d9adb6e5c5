#pragma once

#include <QComboBox>
#include <QVariant>

namespace morvandell {

// A drop-down list with an edit field, as the windows use them: entries are appended without changing
// what the edit field shows, typing into the field deselects (listIndex() -1), and clicked() is raised
// only when the user picks an entry.
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

private:
    int m_listIndex = -1;
};

} // namespace morvandell
