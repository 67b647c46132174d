// The settings file's reads at window creation and first activation, and
// the writes at close. Each setting goes straight into, or out of, the
// control that holds it; the current value of the control is the default.
#pragma once

class QWidget;
class SettingsPanel;

namespace qv {
class SettingsFile;
}

namespace winsettings {

// Backup into CheckBox3; returns its state.
bool readBackup(const qv::SettingsFile &file, SettingsPanel &panel);
// TreeWidth (222 by default).
int readTreeWidth(const qv::SettingsFile &file);
// DragDrop into CheckBox1; returns its state.
bool readDragDrop(const qv::SettingsFile &file, SettingsPanel &panel);

// Restore into CheckBox2; when on, WindowState and the placement.
void readPlacement(const qv::SettingsFile &file, SettingsPanel &panel, QWidget &window);
// The two fonts into Button5 and Button6, then ApplyFonts.
void readFonts(const qv::SettingsFile &file, SettingsPanel &panel);
// The four colours into the swatches, then the apply step.
void readColors(const qv::SettingsFile &file, SettingsPanel &panel);
// Link into CheckBox4.
void readLink(const qv::SettingsFile &file, SettingsPanel &panel);

// Every key, in the fixed order of the close. Raises ESettingsWriteError.
void writeAll(qv::SettingsFile &file, const SettingsPanel &panel, int treeWidth, const QWidget &window);

} // namespace winsettings
