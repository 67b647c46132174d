#include "gui/tree/IconPalette.h"

#include "gui/common/Icons.h"
#include "gui/common/WidgetLook.h"

#include <QBoxLayout>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>

namespace qv {

namespace {

constexpr int kButtonSize = 21;
constexpr int kHeaderHeight = 21;
constexpr int kHeaderWidth = 122;
constexpr int kToggleSize = 10;
constexpr int kToggleTopGap = 3;
constexpr int kToggleRightGap = 3;
// The grid begins 27 pixels from the top and 5 from the left.
constexpr int kGridTop = 27;
constexpr int kGridLeft = 5;

// Lays out at least its minimum height, whatever the panel's height: the
// collapsed panel cuts the button grid off instead of squeezing it.
class UnsqueezedLayout : public QVBoxLayout {
public:
    using QVBoxLayout::QVBoxLayout;
    void setGeometry(const QRect &rect) override
    {
        QVBoxLayout::setGeometry(QRect(rect.topLeft(), rect.size().expandedTo(minimumSize())));
    }
};

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

    headerPicture_ = new QLabel(this);
    headerPicture_->setObjectName(QStringLiteral("Image1"));
    headerPicture_->setPixmap(icons::paletteHeader());
    headerPicture_->setFixedSize(kHeaderWidth, kHeaderHeight);
    headerPicture_->installEventFilter(this);

    headerStrip_ = new QLabel(this);
    headerStrip_->setObjectName(QStringLiteral("Image2"));
    headerStrip_->setPixmap(icons::paletteStrip());
    headerStrip_->setScaledContents(true);
    headerStrip_->setFixedHeight(kHeaderHeight);
    headerStrip_->setMinimumWidth(0);
    headerStrip_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    // Created after the strip, so it lies on top of it.
    togglePicture_ = new QLabel(this);
    togglePicture_->setObjectName(QStringLiteral("Image4"));
    togglePicture_->setFixedSize(kToggleSize, kToggleSize);
    togglePicture_->installEventFilter(this);

    // The header row: the picture, then the strip to the right edge with
    // the toggle over the strip's right end.
    auto *header = new QGridLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(0);
    header->addWidget(headerPicture_, 0, 0);
    header->addWidget(headerStrip_, 0, 1);
    auto *toggleCorner = new QHBoxLayout;
    toggleCorner->setContentsMargins(0, kToggleTopGap, kToggleRightGap, 0);
    toggleCorner->addStretch(1);
    toggleCorner->addWidget(togglePicture_, 0, Qt::AlignTop);
    header->addLayout(toggleCorner, 0, 1);
    header->setColumnStretch(1, 1);

    auto *grid = new QGridLayout;
    grid->setContentsMargins(kGridLeft, 0, 0, 0);
    grid->setSpacing(0);
    iconButtons_.reserve(kRows * kColumns);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const int number = kColumns * row + column + 1;
            const int value = number == kRows * kColumns ? 0 : number;
            auto *b = new QToolButton(this);
            b->setObjectName(QStringLiteral("bi%1").arg(number));
            b->setProperty("tag", value);
            b->setAutoRaise(true);
            b->setCheckable(false);
            b->setFocusPolicy(Qt::NoFocus);
            b->setIconSize(QSize(16, 16));
            b->setFixedSize(kButtonSize, kButtonSize);
            // Laid out in its place while the closed palette hides it.
            QSizePolicy policy = b->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            b->setSizePolicy(policy);
            connect(b, &QToolButton::clicked, this, [this, value] { emit iconChosen(value); });
            // Keys reach a button only once enterIcons() gave it the focus.
            b->installEventFilter(this);
            grid->addWidget(b, row, column);
            iconButtons_.append(b);
        }
    }
    grid->setColumnStretch(kColumns, 1);

    auto *layout = new UnsqueezedLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addSpacing(kGridTop - kHeaderHeight);
    layout->addLayout(grid);
    layout->addStretch(1);

    resize(220, kCollapsedHeight);
    collapse();
    layout->activate();
}

void IconPalette::collapse() { showState(false); }

void IconPalette::fillPictures()
{
    for (QToolButton *b : std::as_const(iconButtons_))
        b->setIcon(icons::image(b->property("tag").toInt()));
}

bool IconPalette::isExpanded() const { return maximumHeight() != kCollapsedHeight; }

void IconPalette::toggle() { showState(!isExpanded()); }

void IconPalette::enterIcons(int number)
{
    if (!isExpanded())
        showState(true);
    if (QToolButton *b = button(number))
        b->setFocus(Qt::ShortcutFocusReason);
}

int IconPalette::focusedIcon() const
{
    for (qsizetype i = 0; i < iconButtons_.size(); ++i)
        if (iconButtons_.at(i)->hasFocus())
            return int(i) + 1;
    return 0;
}

bool IconPalette::iconKey(QToolButton *button, int key)
{
    const int at = int(iconButtons_.indexOf(button));
    const int count = int(iconButtons_.size());
    int to = at;
    switch (key) {
    case Qt::Key_Left:
        to = (at + count - 1) % count;
        break;
    case Qt::Key_Right:
        to = (at + 1) % count;
        break;
    case Qt::Key_Up:
        to = (at + count - kColumns) % count;
        break;
    case Qt::Key_Down:
        to = (at + kColumns) % count;
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = count - 1;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        button->click();
        return true;
    case Qt::Key_Escape:
        emit left();
        return true;
    default:
        return false;
    }
    iconButtons_.at(to)->setFocus(Qt::TabFocusReason);
    return true;
}

QToolButton *IconPalette::button(int number) const
{
    if (number < 1 || number > iconButtons_.size())
        return nullptr;
    return iconButtons_.at(number - 1);
}

void IconPalette::showState(bool expanded)
{
    setFixedHeight(expanded ? kExpandedHeight : kCollapsedHeight);
    // The closed palette shows its header only: the buttons below it are
    // hidden, not left lying outside the panel.
    for (QToolButton *b : std::as_const(iconButtons_))
        b->setVisible(expanded);
    togglePicture_->setPixmap(icons::toggleGlyph(!expanded));
    // The hint shows as a tooltip and in the window's status bar.
    const QString hint = expanded ? QStringLiteral("Свернуть") : QStringLiteral("Развернуть");
    togglePicture_->setStatusTip(hint);
    // Last: the window's status bar takes the new hint on this change.
    togglePicture_->setToolTip(hint);
}

bool IconPalette::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *b = qobject_cast<QToolButton *>(watched);
        const auto *key = static_cast<QKeyEvent *>(event);
        if (b && iconButtons_.contains(b) && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier
            && iconKey(b, key->key()))
            return true;
    }
    if (watched == headerPicture_ && event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            toggle();
            return true;
        }
    } else if (watched == togglePicture_) {
        if (event->type() == QEvent::MouseButtonPress)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *me = static_cast<QMouseEvent *>(event);
            // A click counts only when the button comes up over the picture.
            if (me->button() == Qt::LeftButton && togglePicture_->rect().contains(me->position().toPoint()))
                toggle();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace qv
