#include "gui/common/WidgetLook.h"

#include "settings/Settings.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace qv {

QColor panelColor()
{
    return QColor(colorcode::red(colorcode::kPanel), colorcode::green(colorcode::kPanel),
                  colorcode::blue(colorcode::kPanel));
}

void applyFontFaceAndSize(QWidget *widget, const QString &face, int pointSize)
{
    QFont font = widget->font();
    if (!face.isEmpty())
        font.setFamily(face);
    if (pointSize > 0)
        font.setPointSize(pointSize);
    widget->setFont(font);
}

void applyTextColors(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette pal = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, background);
        pal.setColor(group, QPalette::Text, text);
    }
    widget->setPalette(pal);
}

} // namespace qv
