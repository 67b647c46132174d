#include "ui/AboutPanel.h"

#include <QAbstractButton>
#include <QUrl>

AboutPanel::AboutPanel(QAbstractButton *toggleButton, QWidget *parent)
    : QFrame(parent), m_toggleButton(toggleButton)
{
    setObjectName(QStringLiteral("Panel7"));
    setFixedHeight(0);
}

void AboutPanel::close() { setFixedHeight(0); }
bool AboutPanel::isOpen() const { return height() != 0; }
void AboutPanel::toggle() { setFixedHeight(isOpen() ? 0 : kOpenHeight); }
void AboutPanel::setMemoryProvider(std::function<std::pair<quint64, quint64>()>) {}
void AboutPanel::setUrlOpener(std::function<void(const QUrl &)>) {}
std::pair<quint64, quint64> AboutPanel::systemMemory() { return {0, 0}; }
QString AboutPanel::megabytes(quint64 bytes) { return QString::number(bytes >> 20); }
bool AboutPanel::eventFilter(QObject *watched, QEvent *event) { return QFrame::eventFilter(watched, event); }
void AboutPanel::refreshMemory() {}
