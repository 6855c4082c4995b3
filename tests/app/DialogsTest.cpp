// Each dialog runs exactly the block of the answer given, once, after it is gone.
#include <QCheckBox>
#include <QLineEdit>

#include "AppTestSupport.h"
#include "XXActivityIndicator.h"
#include "XXProgressAlertView.h"
#include "XXSingleInputAlertView.h"
#include "XXTransmissionErrorView.h"
#include "XXTwoBtnReminderView.h"

namespace {

// Counts runs of a block and whether the dialog was still on screen when it ran.
struct BlockProbe {
    int runs = 0;
    bool ranWhileVisible = false;
    QPointer<QWidget> dialog;

    std::function<void()> block()
    {
        return [this] { record(); };
    }
    void record()
    {
        ++runs;
        ranWhileVisible = ranWhileVisible || (dialog && dialog->isVisible());
    }
};

QPushButton *button(QWidget *dialog, const char *name)
{
    return dialog->findChild<QPushButton *>(QString::fromLatin1(name));
}

class DialogTest : public apptest::AppTest {
protected:
    QWidget owner_;
    void SetUp() override
    {
        AppTest::SetUp();
        owner_.show();
    }
};

}  // namespace

TEST_F(DialogTest, ReminderRunsItsBlockOnceWhicheverWayItIsDismissed)
{
    for (bool byEscape : {false, true}) {
        BlockProbe probe;
        auto *view = XXReminderView::show(&owner_, "Saved", XXReminderView::success, probe.block());
        probe.dialog = view;
        EXPECT_TRUE(view->isVisible());
        EXPECT_EQ(view->windowModality(), Qt::WindowModal);
        if (byEscape)
            QTest::keyClick(view, Qt::Key_Escape);
        else
            button(view, "sureBtn")->click();
        button(view, "sureBtn")->click();
        EXPECT_EQ(probe.runs, 1);
        EXPECT_FALSE(probe.ranWhileVisible);
        ASSERT_TRUE(apptest::waitFor([&] { return probe.dialog.isNull(); }));
    }
    EXPECT_EQ(XXReminderView::imageNameForType(XXReminderView::error), "main39");
    EXPECT_TRUE(XXReminderView::imageNameForType(XXReminderView::textOnly).isEmpty());
}

TEST_F(DialogTest, TwoButtonsAndTextInputAnswerSureOrCancel)
{
    BlockProbe sure, cancel;
    auto *question = XXTwoBtnReminderView::show(&owner_, "Delete?", sure.block(), cancel.block());
    sure.dialog = cancel.dialog = question;
    QTest::keyClick(question, Qt::Key_Escape);
    EXPECT_EQ(cancel.runs, 1);
    EXPECT_EQ(sure.runs, 0);
    EXPECT_FALSE(cancel.ranWhileVisible);

    BlockProbe sureAgain;
    auto *second = XXTwoBtnReminderView::show(&owner_, "Delete?", sureAgain.block(), {}, "Erase", "Keep");
    sureAgain.dialog = second;
    EXPECT_EQ(button(second, "sureBtn")->text(), "Erase");
    QTest::keyClick(button(second, "sureBtn"), Qt::Key_Return);
    EXPECT_EQ(sureAgain.runs, 1);

    QString typed;
    int sureRuns = 0, cancelRuns = 0;
    auto *input = XXSingleInputAlertView::show(
        &owner_, "Name", [&](const QString &text) { typed = text, ++sureRuns; }, [&] { ++cancelRuns; });
    QTest::keyClicks(input->inputField(), "Holiday");
    QTest::keyClick(input->inputField(), Qt::Key_Return);
    EXPECT_EQ(typed, "Holiday");
    EXPECT_EQ(sureRuns, 1);
    EXPECT_EQ(cancelRuns, 0);
    EXPECT_FALSE(input->isVisible());

    auto *closed = XXSingleInputAlertView::show(
        &owner_, "Name", [&](const QString &) { ++sureRuns; }, [&] { ++cancelRuns; });
    closed->close();
    EXPECT_EQ(cancelRuns, 1);
    EXPECT_EQ(sureRuns, 1);
}

TEST_F(DialogTest, ConflictQuestionPassesTheApplyToAllBox)
{
    std::vector<std::pair<std::string, bool>> answers;
    auto answer = [&](const char *which) {
        return [&answers, which](bool all) { answers.emplace_back(which, all); };
    };
    auto *view = XXTransmissionErrorView::show(
        &owner_, "a.txt exists", "Keep both", "Skip",
        {answer("sure"), answer("cancel"), [&] { answers.emplace_back("close", false); }});
    view->applyToAllBox()->setChecked(true);
    button(view, "cancelBtn")->click();
    auto *hidden = XXTransmissionErrorView::show(&owner_, "one item", "Stop", "Skip",
                                                 {answer("sure"), answer("cancel"), {}}, false);
    hidden->applyToAllBox()->setChecked(true);  // not offered, so never reported
    hidden->changeSureBtnColorLikeCancelBtn();
    EXPECT_FALSE(button(hidden, "sureBtn")->isDefault());
    button(hidden, "sureBtn")->click();
    auto *escaped = XXTransmissionErrorView::show(
        &owner_, "x", "a", "b",
        {answer("sure"), answer("cancel"), [&] { answers.emplace_back("close", false); }});
    QTest::keyClick(escaped, Qt::Key_Escape);
    const std::vector<std::pair<std::string, bool>> expected = {
        {"cancel", true}, {"sure", false}, {"close", false}};
    EXPECT_EQ(answers, expected);
}

TEST_F(DialogTest, ProgressClampsAndCancelsOnlyWhileItCan)
{
    int cancels = 0;
    auto *progress = XXProgressAlertView::show(&owner_, "Importing", [&] { ++cancels; });
    EXPECT_EQ(progress->subtitle(), xxplatform::text("String_61"));
    progress->setProgress(1.7);
    EXPECT_DOUBLE_EQ(progress->progress(), 1.0);
    progress->setProgress(-3);
    EXPECT_DOUBLE_EQ(progress->progress(), 0.0);
    progress->setHiddenCancelBtn(true);
    QTest::keyClick(progress, Qt::Key_Escape);
    EXPECT_TRUE(progress->isVisible());
    progress->setHiddenCancelBtn(false);
    QTest::keyClick(progress, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(progress->isVisible());

    auto *finished = XXProgressAlertView::show(&owner_, "Exporting", [&] { ++cancels; });
    finished->dismiss();
    EXPECT_FALSE(finished->isVisible());
    EXPECT_EQ(cancels, 1);
}

TEST_F(DialogTest, ActivityIndicatorCoversTheViewOnce)
{
    auto *first = XXActivityIndicator::showActivityIndicatorOnView(&owner_, Qt::white);
    EXPECT_EQ(XXActivityIndicator::showActivityIndicatorOnView(&owner_, Qt::darkGray), first);
    EXPECT_EQ(first->geometry(), owner_.rect());
    XXActivityIndicator::stopActivityIndicator(&owner_);
    EXPECT_EQ(XXActivityIndicator::indicatorOnView(&owner_), nullptr);
}
