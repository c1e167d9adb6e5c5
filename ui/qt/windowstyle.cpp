#include "ui/qt/windowstyle.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace morvandell::ui::qt {

QFont windowFont(bool bold)
{
    // Families in order of preference; the first one installed is used.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    // Hinting at this size pulls the dots of Ä, Ö, Ü onto the letter ("Übertragen." reads "Obertragen.").
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont narrowWindowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("MS Sans Serif"),
                      QStringLiteral("Liberation Sans")});
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QSize WrapButton::sizeHint() const
{
    return QPushButton::sizeHint();
}

void WrapButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect area =
        style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).adjusted(2, 0, -2, 0);
    painter.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap, option.palette, isEnabled(), caption,
                         QPalette::ButtonText);
}

} // namespace morvandell::ui::qt
