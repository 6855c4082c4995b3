#include "XXAppDelegate.h"

#include <QApplication>
#include <QMessageBox>

#include <chrono>

#include "XXCacheInstance.h"
#include "XXClipboard.h"
#include "XXDiskFileManager.h"
#include "XXMainMenu.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXQtTranslations.h"
#include "XXReminderView.h"
#include "XXStoryboard.h"
#include "XXTerminationSignals.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowPlacement.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

XXAppDelegate *sharedDelegate = nullptr;

// This program's own decrypted copies; changed ones that never reached the vault stay.
void removeOwnCaches()
{
    auto cacheRemoval = XXDiskFileManager::shareDiskFileManager().cleanCacheFiles();
    XXPasteProtectFileOutAppModel::cleanCacheFiles();
    cacheRemoval.wait_for(10s);
    xxcache::releaseInstanceFolder();
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
    // Only runs that ended: a program still running on another vault keeps its copies.
    const std::vector<std::string> kept = XXDiskFileManager::removeLeftoverCaches();
    reSetPageLanguage();
    QWidget *hello = showFromStoryboard(helloWindow_, QStringLiteral("XXHelloWindowController"));
    if (!kept.empty() && hello)
        XXReminderView::show(hello, xxplatform::keptCopiesMessage(kept), XXReminderView::notice);
}

void XXAppDelegate::applicationWillTerminate()
{
    if (terminated_)
        return;
    terminated_ = true;
    // Logging out cancels a running transfer, saves changed opened copies, unmounts and
    // removes the decrypted copies; it blocks, so a worker does it.
    auto kept = std::make_shared<std::vector<std::string>>();
    xxplatform::runInBackground(nullptr, 0ms, [kept] {
        XXDiskFileManager::shareDiskFileManager().logOutComplete([kept](const XXDiskResultObject &result) {
            if (const auto *paths = std::any_cast<std::vector<std::string>>(&result.successValue()))
                *kept = *paths;
        });
    });
    xxplatform::waitForWorkers(15s);
    xxplatform::clearClipboardIfOurs();
    removeOwnCaches();
    // A person who quit is told; a desktop ending the session waits for no one.
    if (!kept->empty() && !xxplatform::endedBySignal() && QGuiApplication::platformName() != "offscreen")
        QMessageBox::warning(nullptr, xxplatform::windowTitle(), xxplatform::keptCopiesMessage(*kept));
}

void XXAppDelegate::bringToFront()
{
    // The window in front of the others: a dialog over the main window, else the window.
    QWidget *front = QApplication::activeModalWidget();
    if (!front)
        for (QWidget *candidate : {mainWindow_.data(), registerWindow_.data(), agreeProtocolWindow_.data(),
                                   helloWindow_.data()})
            if (candidate && candidate->isVisible()) {
                front = candidate;
                break;
            }
    if (!front)
        return;
    front->window()->showNormal();
    front->window()->raise();
    front->window()->activateWindow();
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
