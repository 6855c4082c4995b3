// The window's tests run on Qt's offscreen platform with a private home and runtime folder,
// and with the screens' pauses shortened.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TempDir.h"
#include "XXWorker.h"

namespace {

// The offscreen platform reports each window feature it lacks; those lines bury the results.
QtMessageHandler standardHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        standardHandler(type, context, message);
}

}  // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TempDir home;
    std::filesystem::create_directories(home / "runtime");
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("LANGUAGE", "en", 1);

    standardHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    xxplatform::setDelayScale(0.02);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    xxplatform::waitForWorkers(std::chrono::seconds(10));
    return status;
}
