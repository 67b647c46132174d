// A strip of the window that opens to a fixed height and closes to nothing,
// with a sticky toolbar button whose down state mirrors it.
#pragma once

#include <QColor>
#include <QFrame>

class QAbstractButton;

class CollapsiblePanel : public QFrame {
    Q_OBJECT
public:
    // toggleButton (may be null) is made checkable; its clicks toggle the panel.
    // The panel is borderless, filled with the panel color and laid out for an
    // 8-point font.
    CollapsiblePanel(QAbstractButton *toggleButton, int openHeight, QWidget *parent = nullptr);

    void close();          // height 0, button up
    bool isOpen() const;   // height not 0
    void toggle();         // open when closed, close when open

protected:
    // Runs each time the panel opens, after its height is set.
    virtual void opened() {}

private:
    QAbstractButton *m_toggleButton = nullptr;
    int m_openHeight = 0;
};
