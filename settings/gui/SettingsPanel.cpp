#include "settings/gui/SettingsPanel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

SettingsPanel::SettingsPanel(QAbstractButton *toggleButton, QWidget *parent)
    : QFrame(parent), m_toggleButton(toggleButton)
{
    setObjectName(QStringLiteral("Panel4"));
    for (auto &box : m_checkBoxes)
        box = new QCheckBox(this);
    m_button5 = new QPushButton(this);
    m_button6 = new QPushButton(this);
    setFixedHeight(0);
}

QCheckBox *SettingsPanel::checkBox1() const { return m_checkBoxes[0]; }
QCheckBox *SettingsPanel::checkBox2() const { return m_checkBoxes[1]; }
QCheckBox *SettingsPanel::checkBox3() const { return m_checkBoxes[2]; }
QCheckBox *SettingsPanel::checkBox4() const { return m_checkBoxes[3]; }
int32_t SettingsPanel::treeColor() const { return m_treeColor; }
void SettingsPanel::setTreeColor(int32_t v) { m_treeColor = v; }
int32_t SettingsPanel::textTreeColor() const { return m_textTreeColor; }
void SettingsPanel::setTextTreeColor(int32_t v) { m_textTreeColor = v; }
int32_t SettingsPanel::richColor() const { return m_richColor; }
void SettingsPanel::setRichColor(int32_t v) { m_richColor = v; }
int32_t SettingsPanel::textRichColor() const { return m_textRichColor; }
void SettingsPanel::setTextRichColor(int32_t v) { m_textRichColor = v; }
QString SettingsPanel::treeFontName() const { return m_button5->font().family(); }
void SettingsPanel::setTreeFontName(const QString &) {}
int SettingsPanel::treeFontSize() const { return 8; }
void SettingsPanel::setTreeFontSize(int) {}
QString SettingsPanel::textFontName() const { return m_button6->font().family(); }
void SettingsPanel::setTextFontName(const QString &) {}
int SettingsPanel::textFontSize() const { return 8; }
void SettingsPanel::setTextFontSize(int) {}
void SettingsPanel::applyFonts() {}
void SettingsPanel::apply() {}
void SettingsPanel::close() { setFixedHeight(0); }
bool SettingsPanel::isOpen() const { return height() != 0; }
void SettingsPanel::toggle() { setFixedHeight(isOpen() ? 0 : kOpenHeight); }
void SettingsPanel::ok() {}
void SettingsPanel::cancel() {}
void SettingsPanel::chooseTreeColor() {}
void SettingsPanel::chooseTreeTextColor() {}
void SettingsPanel::chooseRichColor() {}
void SettingsPanel::chooseRichTextColor() {}
void SettingsPanel::chooseTreeFont() {}
void SettingsPanel::chooseTextFont() {}
QPushButton *SettingsPanel::treeFontButton() const { return m_button5; }
QPushButton *SettingsPanel::textFontButton() const { return m_button6; }
QColor SettingsPanel::colorFromValue(int32_t) { return {}; }
int32_t SettingsPanel::valueFromColor(const QColor &c) { return c.red() + 256 * c.green() + 65536 * c.blue(); }
void SettingsPanel::setColorChooser(std::function<std::optional<QColor>(QWidget *, const QColor &)>) {}
void SettingsPanel::setFontChooser(std::function<std::optional<QFont>(QWidget *, const QFont &)>) {}
void SettingsPanel::resetChooserState() {}
std::optional<int32_t> SettingsPanel::pickColor() { return std::nullopt; }
void SettingsPanel::chooseFont(QPushButton *) {}
void SettingsPanel::showColors() {}
