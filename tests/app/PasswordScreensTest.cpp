// Register, change password and login on real vaults.
#include <QComboBox>
#include <QMenu>

#include <tuple>

#include "AppTestSupport.h"
#include "XXActivityIndicator.h"
#include "XXChangePWViewController.h"
#include "XXInputPasswordView.h"
#include "XXLoginViewController.h"
#include "XXMainMenu.h"
#include "XXMainViewController.h"
#include "XXMainWindowController.h"
#include "XXPasswordStrengthView.h"
#include "XXPasswordTipView.h"
#include "XXRegisterViewController.h"
#include "XXSecureTextField.h"
#include "XXStoryboard.h"

using apptest::AppTest;
using apptest::takeReminder;
using apptest::waitFor;
using apptest::waitForVisible;

namespace {

// Clicks into a field and replaces its text by typing, as a person would.
void typeInto(XXSecureTextField *field, const QString &text)
{
    QTest::mouseClick(field, Qt::LeftButton);
    field->setFocus();
    field->selectAll();
    field->del();
    QTest::keyClicks(field, text);
}

void leave(XXSecureTextField *field)
{
    emit field->editingEnded();
}

class PasswordScreenTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        volume_ = useStickVolume();
    }
    std::string volume_;
};

}  // namespace

TEST_F(PasswordScreenTest, RegisterChecksEachFieldAndCreatesTheAccount)
{
    ASSERT_TRUE(apptest::startOn(volume_));
    auto *screen = qobject_cast<XXRegisterViewController *>(XXAppDelegate::shared()->openRegisterWindow());
    ASSERT_NE(screen, nullptr);
    XXSecureTextField *one = screen->form().password, *two = screen->form().confirmation;

    // The 33rd character is dropped in every field.
    for (XXSecureTextField *field : {one, two, screen->form().hint}) {
        typeInto(field, QString(33, 'a'));
        EXPECT_EQ(field->text().size(), 32);
    }

    struct Case {
        QString password;
        const char *tip;  // nullptr: valid, strength shown instead
        int level;
    };
    const Case cases[] = {
        {"abc", "String_46", 0},    {"abc def gh", "String_48", 0}, {"123456", nullptr, 1},
        {"abcdefg", nullptr, 1},    {"ABCDEFG", nullptr, 1},        {"abc123", nullptr, 2},
        {"Abc123!xyz", nullptr, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.password.toStdString());
        typeInto(one, c.password);
        EXPECT_FALSE(screen->form().passwordTip->isShowingTip()) << "editing again removes the tip";
        leave(one);
        EXPECT_EQ(screen->form().passwordTip->isShowingTip(), c.tip != nullptr);
        if (c.tip) {
            EXPECT_EQ(screen->form().passwordTip->tipString(), xxplatform::text(c.tip));
        }
        EXPECT_EQ(screen->form().strength->level(), c.level);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(screen->form().strength->labelColor(i),
                      i < c.level ? XXPasswordStrengthView::highlightColor()
                                  : XXPasswordStrengthView::greyColor());
    }
    // Too long can only come from text set without typing.
    one->blockSignals(true);
    one->setText(QString(33, 'b'));
    one->blockSignals(false);
    leave(one);
    EXPECT_EQ(screen->form().passwordTip->tipString(), xxplatform::text("String_47"));

    // Equal passwords that break a rule keep OK disabled and are told the rule, under the
    // password, not that they differ; the password's rule comes first even when they differ.
    for (const auto &[password, confirmation, tip] :
         {std::tuple{"abc", "abc", "String_46"}, {"abc def gh", "abc def gh", "String_48"},
          {"abc", "abcd", "String_46"}}) {
        SCOPED_TRACE(confirmation);
        typeInto(one, password);
        typeInto(two, confirmation);
        EXPECT_FALSE(screen->form().sure->isEnabled());
        EXPECT_FALSE(screen->form().confirmationTip->isShowingTip()) << screen->form().confirmationTip->tipString().toStdString();
        EXPECT_EQ(screen->form().passwordTip->tipString(), xxplatform::text(tip));
        leave(two);
        EXPECT_FALSE(screen->form().confirmationTip->isShowingTip());
    }

    typeInto(one, "Abc123!xyz");
    typeInto(two, "Abc123!xy");
    leave(two);
    EXPECT_FALSE(screen->form().sure->isEnabled());
    EXPECT_EQ(screen->form().confirmationTip->tipString(), xxplatform::text("String_49"));
    typeInto(two, "Abc123!xyz");
    EXPECT_TRUE(screen->form().sure->isEnabled());
    EXPECT_FALSE(screen->form().confirmationTip->isShowingTip());

    // A hint longer than 32 characters never reaches the vault.
    screen->form().hint->blockSignals(true);
    screen->form().hint->setText(QString(33, 'h'));
    screen->form().hint->blockSignals(false);
    screen->form().sure->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_170"));
    EXPECT_FALSE(std::filesystem::exists(volume_ + "/.TovinCoffervale/index"));

    typeInto(screen->form().hint, "the usual");
    screen->form().sure->click();
    auto *main = waitForVisible<XXMainWindowController>();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(waitFor([] { return apptest::visible<XXRegisterViewController>().isEmpty(); }));
    EXPECT_EQ(XXAppDelegate::shared()->mainWindow(), main);
    EXPECT_EQ(apptest::manager().acquirePasswordTip(), "the usual");
}

TEST_F(PasswordScreenTest, LoginRefusesAWrongOrEmptyPasswordAndOpensTheUnlockedScreen)
{
    apptest::makeVault(volume_, "Secret#123", "my hint");
    ASSERT_TRUE(apptest::startOn(volume_));
    auto *window = qobject_cast<XXMainWindowController *>(XXAppDelegate::shared()->openMainWindow());
    ASSERT_NE(window, nullptr);
    XXLoginViewController *login = window->loginViewController();
    XXSecureTextField *field = login->inputView()->secureTextField();
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);

    login->forgetBtn()->click();
    EXPECT_EQ(takeReminder(), "my hint");

    for (const QString &wrong : {QString("Wrong#123"), QString()}) {  // an empty one is still sent
        typeInto(field, wrong);
        login->sureBtn()->click();
        EXPECT_EQ(takeReminder(), xxplatform::text("String_142")) << wrong.toStdString();
        EXPECT_FALSE(login->isLogin());
        EXPECT_EQ(field->text(), wrong) << "a failed login keeps the field";
    }

    typeInto(field, "Secret#123");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return login->isLogin(); }));
    EXPECT_TRUE(apptest::manager().isLogin());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(login->sureBtn()->isVisible());
    auto *unlocked = qobject_cast<XXMainViewController *>(window->presentedView());
    ASSERT_NE(unlocked, nullptr);
    EXPECT_TRUE(XXAppDelegate::shared()->mainMenu().action("lock")->isEnabled());

    // Return does nothing while the unlocked screen is shown.
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_EQ(XXActivityIndicator::indicatorOnView(login), nullptr);
    QTest::qWait(60);
    EXPECT_TRUE(apptest::visible<XXReminderView>().isEmpty());

    // Locking logs out and brings the login screen back, which checks the volume again.
    unlocked->lockBtn()->click();
    ASSERT_TRUE(waitFor([&] { return !login->isLogin(); }));
    EXPECT_FALSE(apptest::manager().isLogin());
    EXPECT_TRUE(login->sureBtn()->isVisible());
    EXPECT_FALSE(XXAppDelegate::shared()->mainMenu().action("lock")->isEnabled());
    QTest::qWait(100);
    EXPECT_TRUE(apptest::visible<XXRegisterViewController>().isEmpty());
}

TEST_F(PasswordScreenTest, TheLanguageChooserRetitlesTheScreenAndTheMenusAtOnce)
{
    apptest::makeVault(volume_, "Secret#123");
    auto *window = qobject_cast<XXMainWindowController *>(XXAppDelegate::shared()->openMainWindow());
    XXLoginViewController *login = window->loginViewController();
    QComboBox *chooser = login->chooseLanguageView();
    ASSERT_EQ(chooser->count(), 2);
    EXPECT_EQ(chooser->itemText(0), "English");
    const QString englishOk = login->sureBtn()->text();
    emit chooser->activated(1);
    EXPECT_EQ(XXTool::shareTool().languageName(), "zh-Hans");
    EXPECT_NE(login->sureBtn()->text(), englishOk);
    EXPECT_EQ(login->sureBtn()->text(), xxplatform::text("String_1"));
    EXPECT_EQ(XXAppDelegate::shared()->mainMenu().menu("mainItemSubOne")->title(),
              xxplatform::text("String_5"));
}

TEST_F(PasswordScreenTest, ChangePasswordNeedsTheCurrentOneAndItsSuccessRunsTheSuccessBlock)
{
    apptest::makeVault(volume_, "Secret#123", "old hint");
    ASSERT_TRUE(apptest::startOn(volume_));
    ASSERT_TRUE(apptest::logInWith("Secret#123"));
    QWidget owner;
    owner.show();
    auto *screen = qobject_cast<XXChangePWViewController *>(
        xxstoryboard::instantiateControllerWithIdentifier("XXChangePWWindowController", &owner));
    ASSERT_NE(screen, nullptr);
    int successes = 0;
    screen->setSuccessBlock([&] { ++successes; });
    screen->show();

    // Judged while typing.
    typeInto(screen->form().password, "abc");
    EXPECT_EQ(screen->form().passwordTip->tipString(), xxplatform::text("String_46"));
    typeInto(screen->form().password, "");
    EXPECT_FALSE(screen->form().passwordTip->isShowingTip());
    typeInto(screen->form().password, "abc");
    typeInto(screen->form().confirmation, "abc");
    EXPECT_FALSE(screen->form().confirmationTip->isShowingTip()) << "equal, only too short";
    EXPECT_EQ(screen->form().passwordTip->tipString(), xxplatform::text("String_46"));
    typeInto(screen->form().password, "New#Pass42");
    typeInto(screen->form().confirmation, "New#Pass42");
    EXPECT_FALSE(screen->form().sure->isEnabled()) << "the current password is missing";
    EXPECT_FALSE(screen->form().confirmationTip->isShowingTip()) << "the two match";
    typeInto(screen->form().current, "Wrong#000");
    EXPECT_TRUE(screen->form().sure->isEnabled());

    typeInto(screen->form().hint, "new hint");
    screen->form().sure->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_156"));
    EXPECT_TRUE(screen->isVisible());
    EXPECT_EQ(successes, 0);

    typeInto(screen->form().current, "Secret#123");
    QPointer<XXChangePWViewController> alive(screen);
    screen->form().sure->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_45"));
    EXPECT_EQ(successes, 1);
    EXPECT_TRUE(waitFor([&] { return alive.isNull(); }));
    EXPECT_EQ(apptest::manager().acquirePasswordTip(), "new hint");
    apptest::logOut();
    EXPECT_TRUE(apptest::startOn(volume_));
    EXPECT_TRUE(apptest::logInWith("New#Pass42"));
}
