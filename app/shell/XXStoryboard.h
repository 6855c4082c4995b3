// Every window and screen made from its identifier, in one place.
#pragma once

#include <QString>

class QWidget;

namespace xxstoryboard {

// Windows: "XXHelloWindowController", "XXAgreeProtocalWindow", "XXRegistWindowController",
// "XXMainWindowController", "XXChangePWWindowController", "aboutUs", "protocalWindow",
// "checkVersion". Screens shown inside a window: "XXMainViewController". nullptr for any
// other identifier.
QWidget *instantiateControllerWithIdentifier(const QString &identifier, QWidget *parent = nullptr);

}  // namespace xxstoryboard
