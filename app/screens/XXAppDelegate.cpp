#include "XXAppDelegate.h"

#include <QApplication>

#include <chrono>

#include "XXClipboard.h"
#include "XXDiskFileManager.h"
#include "XXMainMenu.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXQtTranslations.h"
#include "XXStoryboard.h"
#include "XXTool.h"
#include "XXWindowPlacement.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

XXAppDelegate *sharedDelegate = nullptr;

void removeCaches()
{
    auto cacheRemoval = XXDiskFileManager::shareDiskFileManager().cleanCacheFiles();
    XXPasteProtectFileOutAppModel::cleanCacheFiles();
    cacheRemoval.wait_for(10s);
}

}  // namespace

XXAppDelegate::XXAppDelegate(QObject *parent) : QObject(parent), mainMenu_(new XXMainMenu(this))
{
    sharedDelegate = this;
    xxplatform::installWindowCentring(qApp);
    connect(mainMenu_, &XXMainMenu::aboutRequested, this, &XXAppDelegate::aboutUs);
    connect(mainMenu_, &XXMainMenu::checkUpdateRequested, this, &XXAppDelegate::checkUpdate);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &XXAppDelegate::applicationWillTerminate);
}

XXAppDelegate::~XXAppDelegate()
{
    if (sharedDelegate == this)
        sharedDelegate = nullptr;
}

XXAppDelegate *XXAppDelegate::shared()
{
    return sharedDelegate;
}

void XXAppDelegate::applicationDidFinishLaunching()
{
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    xxplatform::clearClipboardIfOurs();
    removeCaches();
    reSetPageLanguage();
    showFromStoryboard(helloWindow_, QStringLiteral("XXHelloWindowController"));
}

void XXAppDelegate::applicationWillTerminate()
{
    if (terminated_)
        return;
    terminated_ = true;
    // Logging out cancels a running transfer and unmounts; it blocks, so a worker does it.
    xxplatform::runInBackground(nullptr, 0ms, [] {
        XXDiskFileManager::shareDiskFileManager().logOutComplete([](const XXDiskResultObject &) {});
    });
    xxplatform::waitForWorkers(15s);
    xxplatform::clearClipboardIfOurs();
    removeCaches();
}

void XXAppDelegate::reSetPageLanguage()
{
    xxplatform::useQtTranslations(XXTool::shareTool().languageName());
    mainMenu_->retitle();
}

void XXAppDelegate::aboutUs()
{
    showFromStoryboard(aboutUsWindow_, QStringLiteral("aboutUs"));
}

void XXAppDelegate::checkUpdate()
{
    showFromStoryboard(checkVersionWindow_, QStringLiteral("checkVersion"));
}

void XXAppDelegate::showProtocolWindow()
{
    showFromStoryboard(protocolWindow_, QStringLiteral("protocalWindow"));
}

QWidget *XXAppDelegate::openAgreementWindow()
{
    return showFromStoryboard(agreeProtocolWindow_, QStringLiteral("XXAgreeProtocalWindow"));
}

QWidget *XXAppDelegate::openRegisterWindow()
{
    return showFromStoryboard(registerWindow_, QStringLiteral("XXRegistWindowController"));
}

QWidget *XXAppDelegate::openMainWindow()
{
    return showFromStoryboard(mainWindow_, QStringLiteral("XXMainWindowController"));
}

QWidget *XXAppDelegate::showFromStoryboard(QPointer<QWidget> &slot, const QString &identifier)
{
    if (!slot)
        slot = xxstoryboard::instantiateControllerWithIdentifier(identifier);
    if (slot) {
        slot->show();
        slot->raise();
        slot->activateWindow();
    }
    return slot;
}
