// The idle-lock settings on a real store: round trips, lenient reads of damaged texts, and
// that they share the configuration file with the other settings without disturbing them.
#include <cerrno>

#include "HeldLock.h"
#include "ServiceTestSupport.h"
#include "XXTimeoutSettings.h"

using xxtimeout::readTimeoutSettings;
using xxtimeout::writeTimeoutSettings;

namespace {

using ServiceTimeoutSettings = OpenVaultFixture;

const XXTimeoutValues defaults{};

}  // namespace

TEST_F(ServiceTimeoutSettings, ValuesRoundTripUnderASectionOfTheirOwn)
{
    EXPECT_EQ(readTimeoutSettings(), defaults) << "fresh store";

    for (const XXTimeoutValues values : {XXTimeoutValues{0, false}, XXTimeoutValues{1, true},
                                         XXTimeoutValues{120, false}, XXTimeoutValues{10, true}}) {
        SCOPED_TRACE(values.idleLockMinutes);
        int err = -1;
        EXPECT_TRUE(writeTimeoutSettings(values, &err));
        EXPECT_EQ(err, 0);
        EXPECT_EQ(readTimeoutSettings(), values);
    }
    const std::string text = config();
    EXPECT_NE(text.find("[coffervale]\n\tidleLockMinutes = 10\n\tlockOnScreenLock = yes\n"),
              std::string::npos)
        << text;

    // They travel with the store: a new session reads them back.
    ASSERT_TRUE(writeTimeoutSettings({25, false}));
    manager->logOutComplete(nullptr);
    EXPECT_EQ(readTimeoutSettings(), defaults) << "nothing mounted";
    EXPECT_FALSE(writeTimeoutSettings({5, true}));
    ASSERT_TRUE(start(volume.path()).isSuccess());
    EXPECT_EQ(readTimeoutSettings(), (XXTimeoutValues{25, false}));
}

TEST_F(ServiceTimeoutSettings, MissingOrDamagedTextsReadAsTheDefaults)
{
    for (const char *bad : {"", "abc", "-1", "121", "999", "1000", " 5", "5x", "+5", "1.5"}) {
        storeRaw("coffervale.idleLockMinutes", bad);
        EXPECT_EQ(readTimeoutSettings().idleLockMinutes, 10) << '"' << bad << '"';
    }
    storeRaw("coffervale.idleLockMinutes", "007");
    EXPECT_EQ(readTimeoutSettings().idleLockMinutes, 7);
    storeRaw("coffervale.idleLockMinutes", "0");
    EXPECT_EQ(readTimeoutSettings().idleLockMinutes, 0);

    for (const char *text : {"", "maybe", "No", "yes"}) {
        storeRaw("coffervale.lockOnScreenLock", text);
        EXPECT_TRUE(readTimeoutSettings().lockOnScreenLock) << '"' << text << '"';
    }
    storeRaw("coffervale.lockOnScreenLock", "no");
    EXPECT_FALSE(readTimeoutSettings().lockOnScreenLock);

    // Out of range is refused before anything is written.
    const std::string before = config();
    EXPECT_FALSE(writeTimeoutSettings({121, false}));
    EXPECT_FALSE(writeTimeoutSettings({-1, false}));
    EXPECT_EQ(config(), before);
}

TEST_F(ServiceTimeoutSettings, OtherSettingsAndUnknownSectionsSurviveBothWays)
{
    ASSERT_TRUE(manager->setMaxBackupFileNum("7"));
    ASSERT_TRUE(manager->setBackupSetting(false));
    // A section some later version might add, with a comment and odd spacing.
    {
        std::string text = config();
        text += "# kept by hand\n[later \"Sub\"]\n  colour=  blue   ; a comment\n";
        writeFile(storeDir() + "/config", text);
    }
    const std::string before = config();

    ASSERT_TRUE(writeTimeoutSettings({3, false}));
    const std::string after = config();
    EXPECT_EQ(after.substr(0, before.size()), before) << "the old lines are kept byte for byte";
    // Readers that know only the older keys still find them.
    EXPECT_EQ(manager->acquirePasswordTip(), "the usual");
    EXPECT_EQ(manager->maxBackupFileNumber(), 7);
    EXPECT_FALSE(manager->isTurnOnAutoBackUp());

    // And writing the older keys keeps ours and the unknown section.
    ASSERT_TRUE(manager->setMaxBackupFileNum("4"));
    ASSERT_TRUE(manager->setCurrentBackupLocation(1));
    EXPECT_EQ(readTimeoutSettings(), (XXTimeoutValues{3, false}));
    const std::string last = config();
    EXPECT_NE(last.find("[later \"Sub\"]\n  colour=  blue   ; a comment\n"), std::string::npos) << last;
    EXPECT_EQ(storedRaw("later.Sub.colour"), "blue");
}

TEST_F(ServiceTimeoutSettings, AFailedWriteIsReportedAndChangesNothing)
{
    ASSERT_TRUE(writeTimeoutSettings({30, true}));
    const std::string before = config();
    HeldLock holder(storeDir() + "/config.lock");
    int err = 0;
    EXPECT_FALSE(writeTimeoutSettings({0, false}, &err));
    EXPECT_EQ(err, EBUSY);
    EXPECT_TRUE(logged("setting coffervale.idleLockMinutes was not stored"));
    EXPECT_TRUE(logged("setting coffervale.lockOnScreenLock was not stored"));
    holder.release();
    EXPECT_EQ(config(), before);
    EXPECT_EQ(readTimeoutSettings(), (XXTimeoutValues{30, true}));
}
