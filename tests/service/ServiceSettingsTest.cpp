// The four backup settings: defaults, the stored texts, round trips and refused writes.
#include <cerrno>
#include <filesystem>

#include "HeldLock.h"
#include "ServiceTestSupport.h"

using ServiceSettings = OpenVaultFixture;

TEST_F(ServiceSettings, DefaultsStandOnAFreshStoreAndWithoutOne)
{
    auto expectDefaults = [&] {
        EXPECT_EQ(manager->acquireCurrentLocationSetting(), 0);
        EXPECT_TRUE(manager->isTurnOnAutoBackUp());
        EXPECT_EQ(manager->maxBackupFileNumber(), 5);
        EXPECT_EQ(manager->acquireCurrentFixAppLocationSetting(), 0);
    };
    expectDefaults();
    ASSERT_TRUE(manager->setMaxBackupFileNum("9"));
    ASSERT_TRUE(manager->setBackupSetting(false));
    manager->logOutComplete(nullptr);
    expectDefaults();
    EXPECT_FALSE(manager->setMaxBackupFileNum("2"));
    EXPECT_FALSE(manager->setBackupSetting(true));
    EXPECT_NE(config().find("number = 9"), std::string::npos);
}

TEST_F(ServiceSettings, ChoicesAreStoredAsTheirFixedTextsAndOthersAsEmpty)
{
    struct Setting {
        const char *key, *zero, *one;
        std::function<bool(std::int64_t)> set;
        std::function<std::int64_t()> get;
    };
    const Setting settings[] = {
        {"backup.location", "document", "appData",
         [&](std::int64_t c) { return manager->setCurrentBackupLocation(c); },
         [&] { return manager->acquireCurrentLocationSetting(); }},
        {"fix.location", "diskArea", "appArea",
         [&](std::int64_t c) { return manager->setCurrentFixAppLocation(c); },
         [&] { return manager->acquireCurrentFixAppLocationSetting(); }},
    };
    for (const Setting &setting : settings)
        for (const std::int64_t choice : {1, 0, 1, 2, 1, -1}) {
            SCOPED_TRACE(std::string(setting.key) + " " + std::to_string(choice));
            EXPECT_TRUE(setting.set(choice));
            EXPECT_EQ(setting.get(), choice == 1 ? 1 : 0);
            EXPECT_EQ(storedRaw(setting.key), choice == 0 ? setting.zero : choice == 1 ? setting.one : "");
        }

    for (const bool on : {false, true}) {
        EXPECT_TRUE(manager->setBackupSetting(on));
        EXPECT_EQ(manager->isTurnOnAutoBackUp(), on);
        EXPECT_EQ(storedRaw("auto.backup"), on ? "yes" : "no");
    }
}

TEST_F(ServiceSettings, StoredTextsCompareExactly)
{
    storeRaw("auto.backup", "Yes");
    EXPECT_FALSE(manager->isTurnOnAutoBackUp());
    storeRaw("backup.location", "Document");
    EXPECT_EQ(manager->acquireCurrentLocationSetting(), 1);
    storeRaw("fix.location", "DiskArea");
    EXPECT_EQ(manager->acquireCurrentFixAppLocationSetting(), 1);
}

TEST_F(ServiceSettings, TheMaximumIsAPositiveNumberThatTravelsWithTheStore)
{
    EXPECT_TRUE(manager->setMaxBackupFileNum("7"));
    EXPECT_EQ(manager->maxBackupFileNumber(), 7);
    const std::string before = config();
    const size_t section = before.find("[back]");
    ASSERT_NE(section, std::string::npos) << before;
    EXPECT_NE(before.find("number = 7", section), std::string::npos) << before;
    for (const char *bad : {"", "0", "-2", " 7", "7 ", "abc", "+4", "1.5"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(manager->setMaxBackupFileNum(bad));
    }
    EXPECT_EQ(config(), before);
    manager->logOutComplete(nullptr);
    ASSERT_TRUE(start(volume.path()).isSuccess());
    EXPECT_EQ(manager->maxBackupFileNumber(), 7);
    EXPECT_TRUE(manager->setMaxBackupFileNum("012"));
    EXPECT_EQ(manager->maxBackupFileNumber(), 12);

    // Texts written by others read leniently, never below 1.
    const std::pair<const char *, std::int64_t> reads[] = {
        {"0", 1}, {"-4", 1}, {"  9 backups", 9}, {"many", 1}, {"", 5}};
    for (const auto &[text, number] : reads) {
        storeRaw("back.number", text);
        EXPECT_EQ(manager->maxBackupFileNumber(), number) << '"' << text << '"';
    }
}

TEST_F(ServiceSettings, AWriteTheConfigurationRefusesReadsBackAsFailed)
{
    // Another running writer holds the lock: the engine refuses and says why.
    HeldLock holder(storeDir() + "/config.lock");
    EXPECT_FALSE(manager->setBackupSetting(false));
    EXPECT_TRUE(manager->isTurnOnAutoBackUp());
    EXPECT_TRUE(logged("setting auto.backup was not stored"));
    EXPECT_EQ(manager->lastSettingSystemErrorNumber(), EBUSY);
    holder.release();
    // Its writer gone, the lock left behind no longer blocks.
    EXPECT_TRUE(manager->setBackupSetting(false));
    EXPECT_EQ(manager->lastSettingSystemErrorNumber(), 0);
    EXPECT_FALSE(std::filesystem::exists(storeDir() + "/config.lock"));
}
