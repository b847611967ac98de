// The About box: the program's name and version, its licence in a line, and
// the Qt version it runs on.
#pragma once

#include <QString>

class QWidget;

namespace qm::ui {

// The text the About box shows (rich text).
QString AboutText();
// Shows the About box modally.
void ShowAboutDialog(QWidget* parent);

} // namespace qm::ui
