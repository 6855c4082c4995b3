// Where the program's windows open: centred on the window they belong to, or on the screen
// when they belong to none, and always whole on the screen. Window managers differ here
// (openbox puts a child window at its own choice, sometimes half off the screen), so the
// program asks for the place itself.
#pragma once

#include <QRect>

class QObject;

namespace xxplatform {

// window's size centred on over, moved and if need be shrunk to fit within available.
QRect centredGeometry(QSize window, const QRect &over, const QRect &available);

// From now on every window and dialog is placed so when it is first shown.
void installWindowCentring(QObject *application);

}  // namespace xxplatform
