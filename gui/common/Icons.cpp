#include "gui/common/Icons.h"

#include "gui/common/WidgetLook.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace qv::icons {

namespace {

const QColor kEdgeColor(120, 134, 160); // the line the header tab stands on

QString glyphPath(const QString &name) { return QStringLiteral(":/glyphs/%1.png").arg(name); }

} // namespace

const QList<QIcon> &imageList()
{
    static const QList<QIcon> list = [] {
        QList<QIcon> icons;
        icons.reserve(kImageCount);
        for (int i = 0; i < kImageCount; ++i)
            icons.append(QIcon(QStringLiteral(":/icons/icon%1.png").arg(i, 2, 10, QLatin1Char('0'))));
        return icons;
    }();
    return list;
}

QIcon image(int index)
{
    if (index < 0 || index >= kImageCount)
        return {};
    return imageList().at(index);
}

QIcon glyph(const QString &name)
{
    static const std::array<const char *, 22> known
        = {"create", "createChild", "delete", "expandAll", "collapseAll", "moveUp", "moveDown", "save",
           "undo",   "redo",        "cut",    "copy",      "paste",       "erase",  "upper",    "capitalise",
           "lower",  "settings",    "about",  "expand",    "collapse",    "program"};
    for (const char *k : known) {
        if (name == QLatin1String(k))
            return QIcon(glyphPath(name));
    }
    return {};
}

QPixmap toggleGlyph(bool expand)
{
    // The arrows sit in the middle of their 16x16 pictures; the toggle shows the centre.
    const QPixmap full(glyphPath(expand ? QStringLiteral("expand") : QStringLiteral("collapse")));
    if (full.isNull())
        return {};
    return full.copy(3, 3, 10, 10);
}

QPixmap paletteHeader()
{
    QPixmap pm(122, 21);
    pm.fill(panelColor());
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);

    // A tab with rounded upper corners standing on the strip's line.
    QPainterPath tab;
    tab.moveTo(0.5, 20.5);
    tab.lineTo(4.5, 5.5);
    tab.quadTo(5.5, 2.5, 9.5, 2.5);
    tab.lineTo(92.5, 2.5);
    tab.quadTo(96.5, 2.5, 97.5, 5.5);
    tab.lineTo(101.5, 20.5);
    QLinearGradient fill(0, 2, 0, 21);
    fill.setColorAt(0.0, QColor(250, 251, 253));
    fill.setColorAt(1.0, QColor(222, 229, 240));
    p.setBrush(fill);
    p.setPen(QPen(kEdgeColor, 1));
    p.drawPath(tab);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawLine(101, 20, 121, 20);

    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(32, 48, 80));
    p.drawText(QRect(6, 3, 90, 17), Qt::AlignCenter, QStringLiteral("Значки"));
    return pm;
}

QPixmap paletteStrip()
{
    QPixmap pm(98, 21);
    pm.fill(panelColor());
    QPainter p(&pm);
    p.setPen(kEdgeColor);
    p.drawLine(0, 20, 97, 20);
    return pm;
}

QIcon programIcon()
{
    // The installed icon when the desktop's theme has it; else the same
    // artwork from every size it is drawn at, crisp at 16 px and up.
    QIcon own;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        own.addFile(QStringLiteral(":/program/org.quorvel.Quorvel-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("org.quorvel.Quorvel"), own);
}

} // namespace qv::icons
