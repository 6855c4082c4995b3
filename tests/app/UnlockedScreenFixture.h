// A logged-in vault on a temporary volume, the unlocked screen over it, and a private home
// folder so the backups of one test are never seen by another.
#pragma once

#include "AppTestSupport.h"
#include "ScopedEnv.h"
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
        std::filesystem::create_directories(dir_ / "home");
        home_.set("HOME", dir_ / "home");
        volume_ = useStickVolume();
        makeVault(volume_, "Secret#123");
        login();
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
        writeFile(path, content);
        auto *pane = screen->protectTabVC();
        if (!pane->isEnterUSB())
            pane->enterFolder(pane->model()->entry(0));
        screen->encodeSelectedComputerFiles({XXFileWrapper::initWithURL(path)},
                                            pane->currentProtectFileWrapper());
        EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    }

    std::string storeFolder() const { return volume_ + "/.TovinCoffervale"; }

    std::string volume_;
    ScopedEnv home_;  // put back after TearDown, once the screens are gone
};

}  // namespace apptest
