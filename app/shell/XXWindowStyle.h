// What every window of the program has: the desktop's own title bar with a title for the
// task switcher, the program's icon, and deletion when it closes.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace xxscreens {

void prepareWindow(QWidget &window, const QString &subtitle);
// A heading label, larger and bold.
QLabel *headingLabel(const QString &text = {});
// The program's icon at the given size, as a label.
QLabel *logoLabel(int size);

}  // namespace xxscreens
