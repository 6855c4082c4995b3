#include "XXResumeDataView.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "XXActivityIndicator.h"
#include "XXDateExtension.h"
#include "XXDiskFileManager.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

constexpr int barSteps = 1000;

QLabel *wrappedLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// The buttons of a page, right-aligned in the order given; the last one moves on.
QHBoxLayout *buttonRow(std::initializer_list<QPushButton *> buttons)
{
    auto *row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton *button : buttons) {
        button->setMinimumWidth(88);
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    return row;
}

QPushButton *namedButton(const char *key, const char *name)
{
    auto *button = new QPushButton(xxplatform::text(key));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QWidget *pageWith(QLayout *layout)
{
    auto *page = new QWidget;
    page->setLayout(layout);
    layout->setContentsMargins(0, 0, 0, 0);
    return page;
}

}  // namespace

XXResumeDataView::XXResumeDataView(QWidget *parent)
    : QDialog(parent ? parent->window() : nullptr), pages_(new QStackedWidget)
{
    setObjectName(QStringLiteral("XXResumeDataView"));
    setWindowTitle(xxplatform::windowTitle(xxplatform::text("String_28")));
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    pages_->addWidget(buildPageOne());
    pages_->addWidget(buildPageTwo());
    pages_->addWidget(buildPageThree());
    pages_->addWidget(buildPageFour());
    pages_->addWidget(buildPageFive());
    layout->addWidget(pages_);
    resize(640, 420);
    showPageWithPageNumber(1);
}

QWidget *XXResumeDataView::buildPageOne()
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(12);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_122")));
    layout->addWidget(wrappedLabel(xxplatform::text("String_121")));
    for (const char *note : {"String_118", "String_119", "String_120"})
        layout->addWidget(wrappedLabel(QStringLiteral("•  ") + xxplatform::text(note)));
    layout->addStretch();
    auto *cancel = namedButton("String_44", "pageOneCancelBtn");
    auto *next = namedButton("String_116", "pageOneNextBtn");
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(next, &QPushButton::clicked, this, &XXResumeDataView::pageOneNextAction);
    layout->addLayout(buttonRow({cancel, next}));
    forwardBtns_[0] = next;
    return pageWith(layout);
}

QWidget *XXResumeDataView::buildPageTwo()
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(12);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_117")));
    table_ = new QTreeWidget;
    table_->setObjectName(QStringLiteral("backupTable"));
    table_->setColumnCount(4);
    table_->setHeaderLabels({xxplatform::text("String_139"), xxplatform::text("String_151"),
                             xxplatform::text("String_141"), xxplatform::text("String_140")});
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->header()->setStretchLastSection(false);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(table_, 1);
    auto *cancel = namedButton("String_44", "pageTwoCancelBtn");
    auto *back = namedButton("String_113", "pageTwoReturnBtn");
    pageTwoNextBtn_ = namedButton("String_116", "pageTwoNextBtn");
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(back, &QPushButton::clicked, this, [this] { showPageWithPageNumber(1); });
    connect(pageTwoNextBtn_, &QPushButton::clicked, this, &XXResumeDataView::pageTwoNextAction);
    connect(table_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const int row = table_->currentIndex().row();
        pageTwoNextBtn_->setEnabled(!table_->selectedItems().isEmpty() && row >= 0 &&
                                    std::size_t(row) < pageTwoArray_.size());
    });
    layout->addLayout(buttonRow({cancel, back, pageTwoNextBtn_}));
    forwardBtns_[1] = pageTwoNextBtn_;
    return pageWith(layout);
}

QWidget *XXResumeDataView::buildPageThree()
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(12);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_28")));
    layout->addWidget(wrappedLabel(xxplatform::text("String_115")));
    layout->addStretch();
    auto *cancel = namedButton("String_44", "pageThreeCancelBtn");
    auto *back = namedButton("String_113", "pageThreeReturnBtn");
    pageThreeRestoreBtn_ = namedButton("String_114", "pageThreeRestoreBtn");
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(back, &QPushButton::clicked, this, [this] { showPageWithPageNumber(2); });
    connect(pageThreeRestoreBtn_, &QPushButton::clicked, this, &XXResumeDataView::pageThreeResumeAction);
    layout->addLayout(buttonRow({cancel, back, pageThreeRestoreBtn_}));
    forwardBtns_[2] = pageThreeRestoreBtn_;
    return pageWith(layout);
}

QWidget *XXResumeDataView::buildPageFour()
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(12);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_112")));
    layout->addStretch();
    progressBar_ = new QProgressBar;
    progressBar_->setRange(0, barSteps);
    progressBar_->setTextVisible(false);
    layout->addWidget(progressBar_);
    progressLab_ = new QLabel(QStringLiteral("0%"));
    progressLab_->setObjectName(QStringLiteral("progressLab"));
    progressLab_->setAlignment(Qt::AlignCenter);
    layout->addWidget(progressLab_);
    layout->addWidget(wrappedLabel(xxplatform::text("String_119")));
    layout->addStretch();
    return pageWith(layout);
}

QWidget *XXResumeDataView::buildPageFive()
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(12);
    resultTitleLab_ = xxscreens::headingLabel();
    resultTitleLab_->setObjectName(QStringLiteral("resultTitleLab"));
    layout->addWidget(resultTitleLab_);
    resultSubtitleLab_ = wrappedLabel({});
    resultSubtitleLab_->setObjectName(QStringLiteral("resultSubtitleLab"));
    layout->addWidget(resultSubtitleLab_);
    layout->addStretch();
    auto *sure = namedButton("String_1", "pageFiveSureBtn");
    connect(sure, &QPushButton::clicked, this, &XXResumeDataView::pageFiveSureAction);
    layout->addLayout(buttonRow({sure}));
    forwardBtns_[4] = sure;
    return pageWith(layout);
}

void XXResumeDataView::showPageWithPageNumber(int page)
{
    if (page < 1 || page > pages_->count())
        return;
    pages_->setCurrentIndex(page - 1);
    // Return answers the page's forward button; a dialog has one default button at a time.
    if (QPushButton *forward = forwardBtns_[std::size_t(page - 1)])
        forward->setDefault(true);
    if (page == 2) {
        pageTwoNextBtn_->setEnabled(!table_->selectedItems().isEmpty());
        table_->setFocus();
    }
}

int XXResumeDataView::currentPage() const
{
    return pages_->currentIndex() + 1;
}

XXResumeDataView::Row XXResumeDataView::rowForBackup(const std::shared_ptr<XXFileWrapper> &backup)
{
    const std::int64_t created = backup->fileAttributes() ? backup->fileAttributes()->creationDate : 0;
    const auto date = std::chrono::system_clock::time_point(std::chrono::seconds(created));
    return {xxplatform::text("String_55"),
            QString::fromStdString(XXDateExtension::doubleTimeChangeToShowString(double(created))),
            QString::fromStdString(XXTool::formattedFileSize(backup->folderSize())),
            QString::fromStdString(XXTool::shareTool().formattedDate(date)), backup};
}

void XXResumeDataView::pageOneNextAction()
{
    if (listing_)
        return;
    listing_ = true;
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    xxplatform::runInBackground(
        this, 0ms, [] { return XXDiskFileManager::shareDiskFileManager().allBackUpFolders(); },
        [this](const XXFileArray &backups) {
            listing_ = false;
            XXActivityIndicator::stopActivityIndicator(this);
            pageTwoArray_.clear();
            for (const auto &backup : backups)
                pageTwoArray_.push_back(rowForBackup(backup));
            fillTable();
            showPageWithPageNumber(2);
        });
}

void XXResumeDataView::fillTable()
{
    table_->clear();
    for (const Row &row : pageTwoArray_)
        table_->addTopLevelItem(new QTreeWidgetItem(QStringList{row.name, row.age, row.size, row.date}));
    pageTwoNextBtn_->setEnabled(false);
}

void XXResumeDataView::pageTwoNextAction()
{
    const int row = table_->currentIndex().row();
    if (table_->selectedItems().isEmpty() || row < 0 || std::size_t(row) >= pageTwoArray_.size())
        return;
    showPageWithPageNumber(3);
}

void XXResumeDataView::pageThreeResumeAction()
{
    const int row = table_->currentIndex().row();
    if (isDoing_ || row < 0 || std::size_t(row) >= pageTwoArray_.size())
        return;
    isDoing_ = true;
    progress(0, 0);
    showPageWithPageNumber(4);
    const std::string path = pageTwoArray_[std::size_t(row)].wrapper->fullPath();
    QPointer<XXResumeDataView> self(this);
    xxplatform::runInBackground(
        this, 0ms,
        [self, path] {
            bool restored = false;
            XXDiskFileManager::shareDiskFileManager().backupJob().RestoreDiskDataWithSelectedPath(
                path,
                [self](std::uint64_t total, std::uint64_t done) {
                    xxplatform::runOnMain(self, [self, total, done] {
                        if (self->isDoing_)
                            self->progress(total, done);
                    });
                },
                [&restored](const XXBackupResult &result) {
                    restored = result.outcome == XXBackupOutcome::finished;
                });
            return restored;
        },
        [this](bool restored) { restoreFinished(restored); });
}

QString XXResumeDataView::progressText(std::uint64_t total, std::uint64_t done)
{
    if (total == 0)
        return QStringLiteral("0%");
    const double value = std::min(1.0, double(done) / double(total));
    return QString::asprintf("%.1f%%", value * 100.0);
}

void XXResumeDataView::progress(std::uint64_t total, std::uint64_t done)
{
    const double value = total == 0 ? 0.0 : std::min(1.0, double(done) / double(total));
    progressBar_->setValue(int(std::lround(value * barSteps)));
    progressLab_->setText(progressText(total, done));
}

void XXResumeDataView::restoreFinished(bool success)
{
    isDoing_ = false;
    restoreSuccess_ = success;
    resultTitleLab_->setText(xxplatform::text(success ? "String_111" : "String_123"));
    resultSubtitleLab_->setText(xxplatform::text(success ? "String_110" : "String_124"));
    QTimer::singleShot(xxplatform::scaledDelay(500ms), this, [this] { showPageWithPageNumber(5); });
}

void XXResumeDataView::pageFiveSureAction()
{
    close();
}

bool XXResumeDataView::mayClose()
{
    if (!isDoing_)
        return true;
    XXReminderView::show(this, xxplatform::text("String_109"), XXReminderView::textOnly);
    return false;
}

void XXResumeDataView::reject()
{
    close();
}

void XXResumeDataView::closeEvent(QCloseEvent *event)
{
    if (!mayClose()) {
        event->ignore();
        return;
    }
    if (leaving_) {
        event->accept();
        return;
    }
    leaving_ = true;
    // QDialog's own handler would reject(), which comes back here.
    event->accept();
    // Once a restore ran, the vault on the stick is no longer the session's: however the
    // wizard is left, the caller must hear the result.
    if (currentPage() >= 4 && pageFiveSureBlock_) {
        auto block = std::move(pageFiveSureBlock_);
        pageFiveSureBlock_ = nullptr;
        block(restoreSuccess_);
    }
}
