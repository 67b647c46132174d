#include "gui/tree/IconPalette.h"

#include "gui/common/Icons.h"
#include "gui/common/WidgetLook.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>

namespace {

constexpr int kButtonSize = 21;
constexpr int kToggleSize = 10;
constexpr int kToggleRightGap = 3;
constexpr int kHeaderWidth = 122;

} // namespace

IconPalette::IconPalette(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Panel3"));
    setFrameShape(QFrame::NoFrame);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, qv::panelColor());
    setPalette(pal);
    setAutoFillBackground(true);
    setMinimumWidth(kHeaderWidth + kToggleSize + kToggleRightGap);

    m_header = new QLabel(this);
    m_header->setObjectName(QStringLiteral("Image1"));
    m_header->setPixmap(qv::icons::paletteHeader());
    m_header->setGeometry(0, 0, kHeaderWidth, 21);
    m_header->installEventFilter(this);

    m_strip = new QLabel(this);
    m_strip->setObjectName(QStringLiteral("Image2"));
    m_strip->setPixmap(qv::icons::paletteStrip());
    m_strip->setScaledContents(true);

    m_toggle = new QLabel(this);
    m_toggle->setObjectName(QStringLiteral("Image4"));
    m_toggle->setFixedSize(kToggleSize, kToggleSize);
    m_toggle->installEventFilter(this);

    m_buttons.reserve(kRows * kColumns);
    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kColumns; ++col) {
            const int number = kColumns * row + col + 1;
            const int value = number == kRows * kColumns ? 0 : number;
            auto *b = new QToolButton(this);
            b->setObjectName(QStringLiteral("bi%1").arg(number));
            b->setProperty("tag", value);
            b->setAutoRaise(true);
            b->setCheckable(false);
            b->setFocusPolicy(Qt::NoFocus);
            b->setIconSize(QSize(16, 16));
            b->setGeometry(5 + kButtonSize * col, 27 + kButtonSize * row, kButtonSize, kButtonSize);
            connect(b, &QToolButton::clicked, this, [this, value] { emit iconChosen(value); });
            m_buttons.append(b);
        }
    }

    resize(220, kCollapsedHeight);
    placeHeader();
    collapse();
}

void IconPalette::collapse()
{
    showState(false);
}

void IconPalette::fillPictures()
{
    for (QToolButton *b : std::as_const(m_buttons))
        b->setIcon(qv::icons::image(b->property("tag").toInt()));
}

bool IconPalette::isExpanded() const
{
    return maximumHeight() != kCollapsedHeight;
}

void IconPalette::toggle()
{
    showState(!isExpanded());
}

QToolButton *IconPalette::button(int number) const
{
    if (number < 1 || number > m_buttons.size())
        return nullptr;
    return m_buttons.at(number - 1);
}

void IconPalette::showState(bool expanded)
{
    setFixedHeight(expanded ? kExpandedHeight : kCollapsedHeight);
    m_toggle->setPixmap(qv::icons::toggleGlyph(!expanded));
    // The hint shows as a tooltip and in the window's status bar.
    const QString hint = expanded ? QStringLiteral("Свернуть") : QStringLiteral("Развернуть");
    m_toggle->setStatusTip(hint);
    // Last: the window's status bar takes the new hint on this change.
    m_toggle->setToolTip(hint);
}

void IconPalette::placeHeader()
{
    // The strip stretches with the panel; the toggle keeps to the top right corner.
    m_strip->setGeometry(kHeaderWidth, 0, qMax(0, width() - kHeaderWidth), 21);
    m_toggle->move(width() - kToggleRightGap - kToggleSize, 3);
    m_toggle->raise();
}

void IconPalette::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    placeHeader();
}

bool IconPalette::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_header && event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            toggle();
            return true;
        }
    } else if (watched == m_toggle) {
        if (event->type() == QEvent::MouseButtonPress)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *me = static_cast<QMouseEvent *>(event);
            // A click counts only when the button comes up over the picture.
            if (me->button() == Qt::LeftButton && m_toggle->rect().contains(me->position().toPoint()))
                toggle();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
