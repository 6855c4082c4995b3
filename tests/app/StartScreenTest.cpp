// The start window's choice of volume and hand-over, the agreement and the menus.
#include <QAction>
#include <QMenu>
#include <QTextBlock>

#include "AppTestSupport.h"
#include "XXAgreeProtocolWindow.h"
#include "XXAgreementText.h"
#include "XXHelloViewController.h"
#include "XXMainMenu.h"
#include "XXMainWindowController.h"
#include "XXCommands.h"
#include "XXRegisterViewController.h"
#include "XXStoryboard.h"

using apptest::AppTest;
using apptest::waitFor;
using apptest::waitForVisible;

namespace {

XXHelloViewController *startApplication()
{
    auto *hello = xxstoryboard::instantiateControllerWithIdentifier("XXHelloWindowController");
    hello->show();
    return qobject_cast<XXHelloViewController *>(hello);
}

}  // namespace

TEST(VolumeChoice, TheProgramsOwnVolumeElseTheLastOne)
{
    XXDiskDictionary disks;
    disks["sda"] = {"sda", "USB", 8'000'000'000ULL, "/media/anna/STICK"};
    disks["sdb"] = {"sdb", "USB", 8'000'000'000ULL, "/media/anna/STICK2"};
    disks["sdc"] = {"sdc", "USB", 8'000'000'000ULL, "/media/anna/PHOTOS"};
    EXPECT_EQ(chooseVolume(disks, "/media/anna/STICK/Coffervale"), "/media/anna/STICK");
    // A volume whose path is only a prefix of another's name does not hold the program.
    EXPECT_EQ(chooseVolume(disks, "/media/anna/STICK2/Coffervale"), "/media/anna/STICK2");
    EXPECT_EQ(chooseVolume(disks, "/home/anna/bin"), "/media/anna/PHOTOS");
    EXPECT_EQ(chooseVolume(disks, ""), "/media/anna/PHOTOS");
    EXPECT_EQ(chooseVolume({}, "/media/anna/STICK"), std::nullopt);
}

class StartScreenTest : public AppTest {};

TEST_F(StartScreenTest, OpensTheVaultOfTheVolumeThatHoldsTheProgram)
{
    const std::string first = dir_ / "first", second = dir_ / "second";
    std::filesystem::create_directories(first);
    std::filesystem::create_directories(second);
    apptest::makeVault(second, "Secret#123");
    useVolumes({first, second}, second + "/Coffervale");

    startApplication();
    ASSERT_NE(waitForVisible<XXMainWindowController>(), nullptr);
    EXPECT_EQ(apptest::manager().currentDiskPath(), second);
    EXPECT_TRUE(apptest::visible<XXHelloViewController>().isEmpty());
    EXPECT_TRUE(apptest::visible<XXAgreeProtocolWindow>().isEmpty());
}

TEST_F(StartScreenTest, AVolumeWithoutTheProgramIsStillOpenedAndANewOneLeadsToTheAgreement)
{
    const std::string only = dir_ / "only";
    std::filesystem::create_directories(only);
    useVolumes({only}, "/opt/elsewhere");
    startApplication();
    auto *agreement = waitForVisible<XXAgreeProtocolWindow>();
    ASSERT_NE(agreement, nullptr);
    EXPECT_EQ(apptest::manager().currentDiskPath(), only);

    // Next only while accepted, with the box's image following it.
    EXPECT_FALSE(agreement->nextButton()->isEnabled());
    EXPECT_EQ(agreement->acceptImageName(), "main40");
    agreement->acceptBox()->click();
    EXPECT_EQ(agreement->acceptImageName(), "main41");
    ASSERT_TRUE(agreement->nextButton()->isEnabled());
    agreement->nextButton()->click();
    EXPECT_NE(waitForVisible<XXRegisterViewController>(), nullptr);
    EXPECT_TRUE(waitFor([] { return apptest::visible<XXAgreeProtocolWindow>().isEmpty(); }));
    EXPECT_NE(XXAppDelegate::shared()->registerWindow(), nullptr);
}

TEST_F(StartScreenTest, NoVolumeSaysSoAndItsButtonEndsTheStartWindow)
{
    XXVolumeSource::current() =
        XXVolumeSource{[] { return std::optional<XXDiskDictionary>(); }, [] { return std::string(); }, {}};
    startApplication();
    auto *reminder = waitForVisible<XXReminderView>();
    ASSERT_NE(reminder, nullptr);
    EXPECT_TRUE(apptest::reminderText(reminder).contains(xxplatform::text("String_4")));
    QTest::keyClick(reminder, Qt::Key_Return);
    EXPECT_TRUE(waitFor([] { return apptest::visible<XXHelloViewController>().isEmpty(); }));
}

TEST_F(StartScreenTest, AStoreThatCannotBeOpenedShowsTheErrorAndTheStartWindowStays)
{
    const std::string broken = dir_ / "broken";
    writeFile(broken + "/.TovinCoffervale", "not a folder");
    useVolumes({broken});
    startApplication();
    auto *reminder = waitForVisible<XXReminderView>();
    ASSERT_NE(reminder, nullptr);
    EXPECT_TRUE(apptest::reminderText(reminder).contains("fs_mount--"))
        << apptest::reminderText(reminder).toStdString();
    QTest::keyClick(reminder, Qt::Key_Return);
    QTest::qWait(50);
    EXPECT_EQ(apptest::visible<XXHelloViewController>().size(), 1);
    EXPECT_TRUE(apptest::visible<XXMainWindowController>().isEmpty());
}

TEST(AgreementText, ParagraphsIndentByTheDepthOfTheirSectionNumber)
{
    EXPECT_EQ(xxagreement::indentForParagraph("Please read this agreement"), 0);
    EXPECT_EQ(xxagreement::indentForParagraph("1. What Coffervale does"), 10);
    EXPECT_EQ(xxagreement::indentForParagraph("1.1. Coffervale keeps"), 26);
    EXPECT_EQ(xxagreement::indentForParagraph("12.3. Twelve"), 26);
    EXPECT_EQ(xxagreement::indentForParagraph("1.1.1. Deeper"), 0);
    EXPECT_EQ(xxagreement::indentForParagraph("Note"), 10);

    QTextDocument english;
    xxagreement::fillDocument(english, "Coffervale terms|_|1. One|_|1.1. One one|_|", "en");
    ASSERT_EQ(english.blockCount(), 3);
    EXPECT_EQ(english.findBlockByNumber(0).text(), "Coffervale terms");
    EXPECT_DOUBLE_EQ(english.findBlockByNumber(0).blockFormat().leftMargin(), 0);
    EXPECT_DOUBLE_EQ(english.findBlockByNumber(1).blockFormat().leftMargin(), 10);
    EXPECT_DOUBLE_EQ(english.findBlockByNumber(2).blockFormat().leftMargin(), 26);

    QTextDocument chinese;
    xxagreement::fillDocument(chinese, "1.1. 第一条|_|1. 第二条", "zh-Hans");
    EXPECT_EQ(chinese.blockCount(), 1);
    EXPECT_DOUBLE_EQ(chinese.firstBlock().blockFormat().leftMargin(), 0);
    EXPECT_TRUE(chinese.toPlainText().contains("|_|"));
}

class MenuTest : public AppTest {};

TEST_F(MenuTest, TitlesInBothLanguagesDropUnknownEntriesAndTheMoveCommand)
{
    XXMainMenu &menu = XXAppDelegate::shared()->mainMenu();
    QMenu *edit = menu.menu("mainItemSubTwo");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(menu.action("moveToDir"), nullptr);
    auto separatorCount = [edit] {
        const QList<QAction *> entries = edit->actions();
        return std::count_if(entries.begin(), entries.end(), [](QAction *a) { return a->isSeparator(); });
    };
    const auto separators = separatorCount();
    edit->addAction("bogus")->setObjectName("notAnEntry");
    edit->addSeparator();

    for (const char *language : {"zh-Hans", "en"}) {
        XXTool::shareTool().setLanguageName(language);
        XXAppDelegate::shared()->reSetPageLanguage();
        EXPECT_EQ(menu.menu("mainItemSubOne")->title(), xxplatform::text("String_5"));
        EXPECT_EQ(menu.action("createDir")->text(), xxplatform::text("String_7"));
        EXPECT_EQ(menu.action("format")->text(), xxplatform::text("String_162"));
        EXPECT_EQ(menu.action("about")->text(), xxplatform::text("String_33"));
    }
    EXPECT_NE(menu.menu("mainItemSubOne")->title(), menu.menu("mainItemSubTwo")->title());
    QApplication::processEvents();
    EXPECT_EQ(menu.action("notAnEntry"), nullptr);
    EXPECT_EQ(separatorCount(), separators + 1);
}

TEST_F(MenuTest, SessionEntriesAreDisabledWithoutASessionButQuitAndHelpWork)
{
    XXMainMenu &menu = XXAppDelegate::shared()->mainMenu();
    for (const char *id : {"createDir", "addFile", "lock", "copy", "paste", "selecteAll", "thumb", "changePW",
                           "backupData", "format"})
        EXPECT_FALSE(menu.action(id)->isEnabled()) << id;
    EXPECT_TRUE(menu.action("exist")->isEnabled());
    EXPECT_EQ(menu.action("copy")->shortcut(), QKeySequence(QKeySequence::Copy));
    EXPECT_EQ(menu.action("exist")->shortcut(), QKeySequence(QKeySequence::Quit));

    menu.action("about")->trigger();
    EXPECT_NE(XXAppDelegate::shared()->aboutUsWindow(), nullptr);
    EXPECT_TRUE(XXAppDelegate::shared()->aboutUsWindow()->isVisible());
    menu.action("updata")->trigger();
    EXPECT_TRUE(XXAppDelegate::shared()->checkVersionWindow()->isVisible());
}

TEST(CommandsTest, TheEditCommandsFollowTheSelectionInTheVaultAndPasteTheClipboard)
{
    using C = XXCommands;
    C::State state;
    EXPECT_FALSE(C::isEnabled(C::lock, state)) << "no session";
    EXPECT_TRUE(C::isEnabled(C::quit, state));
    state.session = true;
    state.inVault = true;
    for (C::Command command : {C::copy, C::cut, C::remove, C::saveFileTo, C::rename}) {
        state.selectedCount = 0;
        EXPECT_FALSE(C::isEnabled(command, state)) << C::identifier(command) << " with nothing selected";
        state.selectedCount = 1;
        EXPECT_TRUE(C::isEnabled(command, state)) << C::identifier(command) << " with one selected";
        state.selectedCount = 2;
        EXPECT_EQ(C::isEnabled(command, state), command != C::rename) << C::identifier(command);
    }
    EXPECT_TRUE(C::isEnabled(C::create, state)) << "File > New > Folder is reachable";
    state.inVault = false;
    EXPECT_FALSE(C::isEnabled(C::copy, state)) << "the volume's entry is not copied";
    EXPECT_FALSE(C::isEnabled(C::create, state)) << "no folder is made on the volume's entry";
    state.clipboardOffersFiles = true;
    EXPECT_FALSE(C::isEnabled(C::paste, state)) << "nowhere to paste";
    state.inVault = true;
    EXPECT_TRUE(C::isEnabled(C::paste, state));
    state.searching = true;
    EXPECT_FALSE(C::isEnabled(C::paste, state)) << "not into search results";
    state.held = {C::changePassword};
    EXPECT_FALSE(C::isEnabled(C::changePassword, state)) << "its window is shown";
    EXPECT_TRUE(C::isEnabled(C::timeout, state));

    C commands;
    state.page = 2;
    commands.apply(state);
    EXPECT_TRUE(commands.action(C::thumbPage)->isChecked());
    EXPECT_FALSE(commands.action(C::detailPage)->isChecked());
    EXPECT_FALSE(commands.action(C::changePassword)->isEnabled());
    EXPECT_EQ(commands.action(C::remove)->objectName(), "delete");
}
