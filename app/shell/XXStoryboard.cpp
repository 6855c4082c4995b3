#include "XXStoryboard.h"

#include <QHash>

#include <functional>

#include "XXAboutUsWindow.h"
#include "XXAgreeProtocolWindow.h"
#include "XXChangePWViewController.h"
#include "XXHelloViewController.h"
#include "XXMainViewController.h"
#include "XXMainWindowController.h"
#include "XXRegisterViewController.h"

namespace xxstoryboard {

QWidget *instantiateControllerWithIdentifier(const QString &identifier, QWidget *parent)
{
    using Maker = std::function<QWidget *(QWidget *)>;
    static const QHash<QString, Maker> makers = {
        {"XXHelloWindowController", [](QWidget *p) { return new XXHelloViewController(p); }},
        {"XXAgreeProtocalWindow", [](QWidget *p) { return new XXAgreeProtocolWindow(p); }},
        {"XXRegistWindowController", [](QWidget *p) { return new XXRegisterViewController(p); }},
        {"XXMainWindowController", [](QWidget *p) { return new XXMainWindowController(p); }},
        {"XXChangePWWindowController", [](QWidget *p) { return new XXChangePWViewController(p); }},
        {"aboutUs", [](QWidget *p) { return new XXAboutUsWindow(p); }},
        {"protocalWindow", [](QWidget *p) { return new XXProtocolWindow(p); }},
        {"checkVersion", [](QWidget *p) { return new XXCheckVersionWindow(p); }},
        {"XXMainViewController", [](QWidget *p) { return new XXMainViewController(p); }},
    };
    const auto maker = makers.find(identifier);
    return maker == makers.end() ? nullptr : maker.value()(parent);
}

}  // namespace xxstoryboard
