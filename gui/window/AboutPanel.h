// The about panel at the bottom of the editor pane: name, version, credits,
// contact address and the machine's memory figures.
#pragma once

#include "gui/common/CollapsiblePanel.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <utility>

class QAbstractButton;
class QLabel;
class QPushButton;
class QUrl;

class AboutPanel : public CollapsiblePanel {    // objectName "Panel7", height 0 or 100
    Q_OBJECT
public:
    static constexpr int kOpenHeight = 100;
    static inline const char kContactAddress[] = "quorvel@example.org";

    // toggleButton is SpeedButton11 (checkable, owned by the editor toolbar); the panel connects to it.
    AboutPanel(QAbstractButton *toggleButton, QWidget *parent = nullptr);
    // close(), isOpen() and toggle() (SpeedButton11Click, also "Закрыть") come from CollapsiblePanel.

    // Test hooks: memory figures in bytes (total, available); the launcher for the mailto: address.
    // An empty function restores the default.
    static void setMemoryProvider(std::function<std::pair<quint64, quint64>()> provider);
    static void setUrlOpener(std::function<void(const QUrl &)> opener);

    // Physical memory of the machine in bytes (total, available); 0, 0 where it cannot be read.
    static std::pair<quint64, quint64> systemMemory();
    // Whole mebibytes, rounded down, followed by " Мб".
    static QString megabytes(quint64 bytes);

    // The catalogue folder in use, shown on one line right of the memory
    // figures (elided in the middle when long; the whole path as the tooltip).
    void setFolder(const QString &folder);
    QString folder() const { return m_folderPath; }
    QLabel *folderLabel() const { return m_folder; }         // CatalogFolderLabel

    QLabel *contactLabel() const { return m_contact; }      // Label6
    QLabel *totalLabel() const { return m_total; }          // Label9
    QLabel *availableLabel() const { return m_available; }  // Label8
    QPushButton *closeButton() const { return m_closeButton; }  // Button4

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void opened() override { refreshMemory(); }
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshMemory();
    void layoutFolder();

    QLabel *m_total = nullptr;
    QLabel *m_available = nullptr;
    QLabel *m_contact = nullptr;
    QLabel *m_folder = nullptr;
    QString m_folderPath;
    QPushButton *m_closeButton = nullptr;
};
