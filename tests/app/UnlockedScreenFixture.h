// A logged-in vault on a temporary volume, the unlocked screen over it, and a private home
// folder so the backups of one test are never seen by another.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "AppTestSupport.h"
#include "XXFileWrapper.h"
#include "XXMainViewController.h"
#include "XXProtectItemModel.h"
#include "XXProtectTabViewController.h"

namespace apptest {

class UnlockedScreenTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        if (const char *home = std::getenv("HOME"))
            savedHome_ = home;
        std::filesystem::create_directories(dir_ / "home");
        setenv("HOME", (dir_ / "home").c_str(), 1);
        volume_ = useStickVolume();
        makeVault(volume_, "Secret#123");
        login();
    }
    void TearDown() override
    {
        AppTest::TearDown();
        if (savedHome_)
            setenv("HOME", savedHome_->c_str(), 1);
    }

    void login()
    {
        ASSERT_TRUE(startOn(volume_));
        ASSERT_TRUE(logInWith("Secret#123"));
    }

    XXMainViewController *openScreen()
    {
        auto *screen = new XXMainViewController;
        screen->setAttribute(Qt::WA_DeleteOnClose);
        screen->resize(1000, 600);
        screen->show();
        EXPECT_TRUE(waitFor([&] { return screen->protectTabVC()->isLoaded(); }));
        return screen;
    }

    // Imports a computer file with that name and content into the vault's top folder.
    void importFile(XXMainViewController *screen, const std::string &name, const std::string &content)
    {
        const std::string path = dir_ / "computer" + "/" + name;
        std::filesystem::create_directories(dir_ / "computer");
        std::ofstream(path, std::ios::binary) << content;
        auto *pane = screen->protectTabVC();
        if (!pane->isEnterUSB())
            pane->enterFolder(pane->model()->entry(0));
        screen->encodeSelectedComputerFiles({XXFileWrapper::initWithURL(path)},
                                            pane->currentProtectFileWrapper());
        EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    }

    std::string storeFolder() const { return volume_ + "/.TovinCoffervale"; }

    std::string volume_;
    std::optional<std::string> savedHome_;
};

}  // namespace apptest
