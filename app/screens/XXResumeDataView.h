// The five-page restore wizard: introduction, choice of a backup, confirmation, progress and
// result. It lists the backups and restores on workers; the final block learns whether the
// vault was replaced, and the caller decides what the session does next.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "XXFileWrapper.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

class XXResumeDataView final : public QDialog {
    Q_OBJECT
public:
    // One backup of the table; the texts are as shown.
    struct Row {
        QString name;
        QString age;
        QString size;
        QString date;
        std::shared_ptr<XXFileWrapper> wrapper;
    };

    // Shown window-modal over parent's window; deletes itself once closed.
    explicit XXResumeDataView(QWidget *parent);

    // Runs with the restore's success flag once the result page is confirmed; never on Cancel.
    void setPageFiveSureBlock(std::function<void(bool)> block) { pageFiveSureBlock_ = std::move(block); }

    // 1 to 5; shows that page only.
    void showPageWithPageNumber(int page);
    int currentPage() const;
    bool isDoing() const { return isDoing_; }
    bool restoreSuccess() const { return restoreSuccess_; }
    const std::vector<Row> &pageTwoArray() const { return pageTwoArray_; }

    // The page actions, public so tests drive the wizard as a person would.
    void pageOneNextAction();
    void pageTwoNextAction();
    void pageThreeResumeAction();
    void pageFiveSureAction();

    // The handlers of the restore's reports, on the GUI thread.
    void progress(std::uint64_t total, std::uint64_t done);
    void restoreFinished(bool success);

    QTreeWidget *table() const { return table_; }
    QPushButton *pageTwoNextBtn() const { return pageTwoNextBtn_; }
    QPushButton *pageThreeRestoreBtn() const { return pageThreeRestoreBtn_; }
    QProgressBar *progressBar() const { return progressBar_; }
    QLabel *progressLab() const { return progressLab_; }
    QLabel *resultTitleLab() const { return resultTitleLab_; }
    QLabel *resultSubtitleLab() const { return resultSubtitleLab_; }

    // "0%" for a total of 0, else "%.1f%%" of done / total capped at 100.
    static QString progressText(std::uint64_t total, std::uint64_t done);
    static Row rowForBackup(const std::shared_ptr<XXFileWrapper> &backup);

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QWidget *buildPageOne();
    QWidget *buildPageTwo();
    QWidget *buildPageThree();
    QWidget *buildPageFour();
    QWidget *buildPageFive();
    void fillTable();
    // Whether the wizard may go; refused with a reminder while restoring.
    bool mayClose();

    QStackedWidget *pages_;
    QTreeWidget *table_ = nullptr;
    QPushButton *pageTwoNextBtn_ = nullptr;
    QPushButton *pageThreeRestoreBtn_ = nullptr;
    QProgressBar *progressBar_ = nullptr;
    QLabel *progressLab_ = nullptr;
    QLabel *resultTitleLab_ = nullptr;
    QLabel *resultSubtitleLab_ = nullptr;
    std::array<QPushButton *, 5> forwardBtns_{};  // by page; none on the progress page
    std::vector<Row> pageTwoArray_;
    bool isDoing_ = false;
    bool listing_ = false;
    bool restoreSuccess_ = false;
    bool leaving_ = false;
    std::function<void(bool)> pageFiveSureBlock_;
};
