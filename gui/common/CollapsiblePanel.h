// A strip of the window that opens to a fixed height and closes to nothing,
// with a sticky toolbar command whose checked state mirrors it.
#pragma once

#include "gui/common/WidgetLook.h"

#include <QFrame>

class QAction;

namespace qv {

class CollapsiblePanel : public QFrame {
    Q_OBJECT
public:
    // The toggle (may be null) is made checkable; triggering it toggles the
    // panel. The panel is borderless, filled with the panel color and set in
    // an 8-point font; open, it is `openHeight` high, or as high as its
    // layout needs when a larger font needs more.
    CollapsiblePanel(QAction *toggleAction, int openHeight, QWidget *parent = nullptr);

    void close();        // height 0, toggle unchecked
    bool isOpen() const; // height not 0
    void toggle();       // open when closed, close when open

protected:
    // Runs each time the panel opens, after its height is set.
    virtual void opened() {}
    // An open panel takes the height its layout needs now, at least its
    // open height.
    void fitHeight();

private:
    void setToggleChecked(bool checked);

    QAction *toggleAction_ = nullptr;
    int openHeight_ = 0;
};

} // namespace qv
