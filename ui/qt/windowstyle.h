#pragma once

#include <QFont>
#include <QPushButton>

namespace morvandell::ui::qt {

// 15 twips make one device-independent pixel.
constexpr int twips(int value)
{
    return value / 15;
}

// Creates a control of kind W named `name` in container, placed by a geometry given in twips.
template<typename W> W* place(QWidget* container, const char* name, int left, int top, int width, int height)
{
    auto* w = new W(container);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
    return w;
}

// The windows' font: "MS Sans Serif" 8.25 pt where it exists, a metric-compatible sans serif elsewhere.
QFont windowFont(bool bold = false);
// The same size in a narrow cut, for fields whose whole text must fit a small width.
QFont narrowWindowFont();

// A push button whose caption wraps onto several lines when it does not fit on one.
class WrapButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace morvandell::ui::qt
