#include "gui/window/WindowSettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace qv {

namespace {

constexpr Qt::WindowStates kNotNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

// The client area where the window system has it once the window is shown,
// else where the widget asks for it.
QRect clientArea(const QWidget &window)
{
    const QWindow *handle = window.windowHandle();
    return handle && handle->isVisible() ? handle->geometry() : window.geometry();
}

// The window's outer rectangle in the normal state.
QRect normalFrame(const QWidget &window)
{
    if (!(window.windowState() & kNotNormal))
        return outerFrame(window);
    return window.normalGeometry().marginsAdded(frameMarginsOf(window));
}

// A window's position is its frame's; its size is the client area's. Once
// the window is shown and framed, the request goes to its window: the
// widget may hold a size it asked for that the window manager never gave (a
// request made while the manager takes the window on can be lost), and
// would not ask for it again.
void setFrame(QWidget &window, const QRect &frame)
{
    const QMargins margins = frameMarginsOf(window);
    QWindow *handle = window.windowHandle();
    if (handle && handle->isVisible() && !margins.isNull()) {
        handle->setGeometry(frame.marginsRemoved(margins));
        return;
    }
    window.move(frame.topLeft());
    window.resize(frame.marginsRemoved(margins).size());
}

// Puts the outer rectangle right once the window manager has framed the
// window, then goes. The frame's size becomes known without any event to
// the window (the client area may stay where it was asked to be), so the
// keeper looks for it every 25 ms, for ten seconds at most. A manager may
// place the window once more after the first correction (its own idea of
// where a frame goes): the keeper stays until the frame has been right for
// 200 ms, correcting it up to three times.
class FrameKeeper : public QObject {
public:
    FrameKeeper(QWidget &window, const QRect &frame, std::function<void()> framed)
        : QObject(&window), window_(window), frame_(frame), framed_(std::move(framed))
    {
        // Found by this name while it works (a test waits for it to go).
        setObjectName(QStringLiteral("frameKeeper"));
        timer_.setInterval(25);
        connect(&timer_, &QTimer::timeout, this, &FrameKeeper::check);
        timer_.start();
    }

private:
    void check()
    {
        if (window_.windowState() & kNotNormal || ++checks_ > 400)
            return finish();
        if (frameMarginsOf(window_).isNull())
            return; // not framed yet
        if (!framedSeen_) {
            framedSeen_ = true;
            if (framed_)
                framed_();
        }
        if (outerFrame(window_) == frame_) {
            if (++rightChecks_ >= 8)
                finish();
            return;
        }
        rightChecks_ = 0;
        if (corrections_++ == 3)
            return finish();
        setFrame(window_, frame_);
    }

    void finish()
    {
        timer_.stop();
        deleteLater();
    }

    QWidget &window_;
    QRect frame_;
    std::function<void()> framed_;
    QTimer timer_;
    int checks_ = 0;
    int rightChecks_ = 0;
    int corrections_ = 0;
    bool framedSeen_ = false;
};

} // namespace

QMargins frameMarginsOf(const QWidget &window)
{
    const QWindow *handle = window.windowHandle();
    if (!handle || !window.isWindow())
        return {};
    // Before the manager has put its frame around the window, the window
    // system may work one out of the bare window that reaches into it.
    const QMargins margins = handle->frameMargins();
    if (margins.left() < 0 || margins.top() < 0 || margins.right() < 0 || margins.bottom() < 0)
        return {};
    return margins;
}

QRect outerFrame(const QWidget &window) { return clientArea(window).marginsAdded(frameMarginsOf(window)); }

Placement placementOf(const QWidget &window)
{
    Placement p;
    p.windowState = window.isMaximized() ? 1 : 0;
    const QRect r = normalFrame(window);
    p.top = r.top();
    p.left = r.left();
    p.height = r.height();
    p.width = r.width();
    return p;
}

void applyPlacement(QWidget &window, const Placement &placement, std::function<void()> framed)
{
    if (placement.windowState == 1) {
        window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        return;
    }
    window.setWindowState(window.windowState() & ~kNotNormal);
    QList<QRect> areas;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        areas.append(screen->availableGeometry());
    const QRect frame
        = reachableFrame(QRect(placement.left, placement.top, placement.width, placement.height), areas);
    setFrame(window, frame);
    if (!frameMarginsOf(window).isNull())
        return;
    // The minimum size may have had its say.
    new FrameKeeper(window, QRect(frame.topLeft(), window.size()), std::move(framed));
}

QRect reachableFrame(const QRect &frame, const QList<QRect> &areas)
{
    const int captionHeight = std::min(frame.height(), kCaptionHeight);
    const QRect caption(frame.left(), frame.top(), frame.width(), captionHeight);
    const int gripWidth = std::min(frame.width(), kGripWidth);
    for (const QRect &area : areas) {
        const QRect seen = area.intersected(caption);
        if (seen.width() >= gripWidth && 2 * seen.height() >= captionHeight)
            return frame;
    }
    if (areas.isEmpty())
        return frame;
    // The area nearest to the frame's center.
    const QPoint center = frame.center();
    auto distance = [&center](const QRect &area) {
        const int dx = center.x() - std::clamp(center.x(), area.left(), area.right());
        const int dy = center.y() - std::clamp(center.y(), area.top(), area.bottom());
        return qint64(dx) * dx + qint64(dy) * dy;
    };
    const QRect area = *std::min_element(areas.begin(), areas.end(), [&](const QRect &a, const QRect &b) {
        return distance(a) < distance(b);
    });
    QRect moved = frame;
    moved.moveLeft(
        std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width())));
    moved.moveTop(
        std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height())));
    return moved;
}

} // namespace qv
