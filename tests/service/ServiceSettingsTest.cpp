// The four backup settings: defaults, the stored texts, round trips and refused writes.
#include <filesystem>

#include "ServiceTestSupport.h"

namespace {

class ServiceSettings : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        openVault();
    }

    std::string config() const { return readFile(storeDir() + "/config"); }

    // Stores a raw text the way another program (or an older version) might have.
    void storeRaw(const char *key, const char *value)
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_set_config(key, value);
    }
};

}  // namespace

TEST_F(ServiceSettings, AFreshStoreReadsAsTheDefaults)
{
    EXPECT_EQ(manager->acquireCurrentLocationSetting(), 0);
    EXPECT_TRUE(manager->isTurnOnAutoBackUp());
    EXPECT_EQ(manager->maxBackupFileNumber(), 5);
    EXPECT_EQ(manager->acquireCurrentFixAppLocationSetting(), 0);
}

TEST_F(ServiceSettings, RoundTripsStoreTheFixedTexts)
{
    EXPECT_TRUE(manager->setCurrentBackupLocation(1));
    EXPECT_EQ(manager->acquireCurrentLocationSetting(), 1);
    EXPECT_NE(config().find("appData"), std::string::npos);
    EXPECT_TRUE(manager->setCurrentBackupLocation(0));
    EXPECT_EQ(manager->acquireCurrentLocationSetting(), 0);
    EXPECT_NE(config().find("document"), std::string::npos);

    EXPECT_TRUE(manager->setBackupSetting(false));
    EXPECT_FALSE(manager->isTurnOnAutoBackUp());
    EXPECT_TRUE(manager->setBackupSetting(true));
    EXPECT_TRUE(manager->isTurnOnAutoBackUp());

    EXPECT_TRUE(manager->setMaxBackupFileNum("7"));
    EXPECT_EQ(manager->maxBackupFileNumber(), 7);
    const std::string text = config();
    const size_t section = text.find("[back]");
    ASSERT_NE(section, std::string::npos) << text;
    EXPECT_NE(text.find("number = 7", section), std::string::npos) << text;

    EXPECT_TRUE(manager->setCurrentFixAppLocation(1));
    EXPECT_EQ(manager->acquireCurrentFixAppLocationSetting(), 1);
    EXPECT_NE(config().find("appArea"), std::string::npos);
    EXPECT_TRUE(manager->setCurrentFixAppLocation(0));
    EXPECT_EQ(manager->acquireCurrentFixAppLocationSetting(), 0);
    EXPECT_NE(config().find("diskArea"), std::string::npos);

    // The settings travel with the store.
    manager->logOutComplate(nullptr);
    ASSERT_TRUE(start(volume.path()).isSuccess());
    EXPECT_EQ(manager->maxBackupFileNumber(), 7);
    EXPECT_TRUE(manager->isTurnOnAutoBackUp());
}

TEST_F(ServiceSettings, OtherChoicesAreStoredEmptyAndReadAsZero)
{
    ASSERT_TRUE(manager->setCurrentBackupLocation(1));
    EXPECT_TRUE(manager->setCurrentBackupLocation(2));
    EXPECT_EQ(manager->acquireCurrentLocationSetting(), 0);
    ASSERT_TRUE(manager->setCurrentFixAppLocation(1));
    EXPECT_TRUE(manager->setCurrentFixAppLocation(-1));
    EXPECT_EQ(manager->acquireCurrentFixAppLocationSetting(), 0);
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

TEST_F(ServiceSettings, TheMaximumIsAPositiveNumber)
{
    ASSERT_TRUE(manager->setMaxBackupFileNum("3"));
    const std::string before = config();
    for (const char *bad : {"", "0", "-2", " 7", "7 ", "abc", "+4", "1.5"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(manager->setMaxBackupFileNum(bad));
    }
    EXPECT_EQ(config(), before);
    EXPECT_EQ(manager->maxBackupFileNumber(), 3);
    EXPECT_TRUE(manager->setMaxBackupFileNum("012"));
    EXPECT_EQ(manager->maxBackupFileNumber(), 12);

    // Texts written by others read leniently, never below 1.
    storeRaw("back.number", "0");
    EXPECT_EQ(manager->maxBackupFileNumber(), 1);
    storeRaw("back.number", "-4");
    EXPECT_EQ(manager->maxBackupFileNumber(), 1);
    storeRaw("back.number", "  9 backups");
    EXPECT_EQ(manager->maxBackupFileNumber(), 9);
    storeRaw("back.number", "many");
    EXPECT_EQ(manager->maxBackupFileNumber(), 1);
    storeRaw("back.number", "");
    EXPECT_EQ(manager->maxBackupFileNumber(), 5);
}

TEST_F(ServiceSettings, AWriteTheConfigurationRefusesReadsBackAsFailed)
{
    // A lock file left by a writer that died: the engine refuses to write.
    writeFile(storeDir() + "/config.lock", "");
    EXPECT_FALSE(manager->setBackupSetting(false));
    EXPECT_TRUE(manager->isTurnOnAutoBackUp());
    EXPECT_TRUE(logged("setting auto.backup was not stored"));
    std::filesystem::remove(storeDir() + "/config.lock");
    EXPECT_TRUE(manager->setBackupSetting(false));
}

TEST_F(ServiceSettings, WithoutAStoreTheDefaultsStandAndNothingIsStored)
{
    ASSERT_TRUE(manager->setMaxBackupFileNum("9"));
    manager->logOutComplate(nullptr);
    EXPECT_EQ(manager->maxBackupFileNumber(), 5);
    EXPECT_TRUE(manager->isTurnOnAutoBackUp());
    EXPECT_FALSE(manager->setMaxBackupFileNum("2"));
    EXPECT_FALSE(manager->setBackupSetting(false));
    EXPECT_NE(config().find("number = 9"), std::string::npos);
}
