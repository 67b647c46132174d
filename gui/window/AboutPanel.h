// The about panel at the bottom of the editor pane: name, version, credits,
// contact address and the machine's memory figures.
#pragma once

#include "gui/common/CollapsiblePanel.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <utility>

class QAbstractButton;
class QGridLayout;
class QLabel;
class QPushButton;
class QUrl;

namespace qv {

class ElidedLabel;

class AboutPanel : public CollapsiblePanel { // objectName "Panel7", height 0 or 100
    Q_OBJECT
public:
    static constexpr int kOpenHeight = 100;

    // toggleAction is the editor toolbar's "О программе..." (SpeedButton11),
    // made checkable; the panel connects to it.
    explicit AboutPanel(QAction *toggleAction, QWidget *parent = nullptr);
    // close(), isOpen() and toggle() (the toggle's command, also "Закрыть") come from CollapsiblePanel.

    // Test hooks: memory figures in bytes (total, available); the launcher for the mailto: address.
    // An empty function restores the default.
    static void setMemoryProvider(std::function<std::pair<quint64, quint64>()> provider);
    static void setUrlOpener(std::function<void(const QUrl &)> opener);
    // The address the contact line offers, read when a panel is made: the
    // one the build was given (QUORVEL_CONTACT_ADDRESS), or none, and then
    // the line keeps its place empty rather than show an address nobody reads.
    static void setContactAddress(const QString &address);

    // Physical memory of the machine in bytes (total, available); 0, 0 where it cannot be read.
    static std::pair<quint64, quint64> systemMemory();
    // Whole mebibytes, rounded down, followed by " Мб".
    static QString megabytes(quint64 bytes);

    // The catalogue folder in use, shown on one line right of the memory
    // figures (elided in the middle when long; the whole path as the tooltip).
    void setFolder(const QString &folder);
    QString folder() const { return folderPath_; }
    QLabel *folderLabel() const; // CatalogFolderLabel

    QLabel *contactLabel() const { return contactLabel_; }           // Label6
    QLabel *totalLabel() const { return totalMemoryLabel_; }         // Label9
    QLabel *availableLabel() const { return availableMemoryLabel_; } // Label8
    QPushButton *closeButton() const { return closeButton_; }        // Button4

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void opened() override { refreshMemory(); }
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshMemory();
    // Wide: the credits, the memory figures and the folder side by side.
    // Narrow (the window's minimum width): the figures below the credits,
    // and the panel as high as that needs.
    void arrange(bool narrow);
    int wideWidth() const;

    QGridLayout *grid_ = nullptr;
    bool narrow_ = false;
    QLabel *title_ = nullptr;
    QLabel *version_ = nullptr;
    QFrame *creditsFrame_ = nullptr;
    QFrame *memoryFrame_ = nullptr;
    QLabel *totalMemoryLabel_ = nullptr;
    QLabel *availableMemoryLabel_ = nullptr;
    QLabel *contactLabel_ = nullptr;
    ElidedLabel *folderLabel_ = nullptr;
    QString folderPath_;
    QPushButton *closeButton_ = nullptr;
};

} // namespace qv
