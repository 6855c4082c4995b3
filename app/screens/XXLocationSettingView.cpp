#include "XXLocationSettingView.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <tuple>

#include "XXActivityIndicator.h"
#include "XXBackupFolders.h"
#include "XXDiskFileManager.h"
#include "XXImages.h"
#include "XXTexts.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

// Fewer backups than this leave too little to go back to.
constexpr long minimumBackupNumber = 3;

QIcon stepIcon(const char *normal, const char *pressed)
{
    QIcon icon = xxplatform::namedIcon(QString::fromLatin1(normal));
    const QPixmap down = xxplatform::namedPixmap(QString::fromLatin1(pressed), QSize(20, 20));
    if (!down.isNull())
        icon.addPixmap(down, QIcon::Active);
    return icon;
}

QToolButton *stepButton(const char *normal, const char *pressed, const char *name)
{
    auto *button = new QToolButton;
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(stepIcon(normal, pressed));
    button->setIconSize(QSize(20, 20));
    button->setAutoRaise(true);
    return button;
}

}  // namespace

XXLocationSettingView::XXLocationSettingView(QWidget *parent)
    : QDialog(parent ? parent->window() : nullptr), locationChooser_(new QComboBox),
      appLocationChooser_(new QComboBox), switch_(new QToolButton),
      upBtn_(stepButton("main42", "main55", "upBtn")), downBtn_(stepButton("main43", "main56", "downBtn")),
      numberLab_(new QLabel), sureBtn_(new QPushButton(xxplatform::text("String_1"))),
      cancelBtn_(new QPushButton(xxplatform::text("String_44")))
{
    setObjectName(QStringLiteral("XXLocationSettingView"));
    setWindowTitle(xxplatform::windowTitle(xxplatform::text("String_154")));
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(16);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_154")));

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    auto caption = [](const char *key) {
        auto *label = new QLabel(xxplatform::text(key));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    };
    locationChooser_->setObjectName(QStringLiteral("locationChooser"));
    appLocationChooser_->setObjectName(QStringLiteral("appLocationChooser"));
    grid->addWidget(caption("String_134"), 0, 0);
    grid->addWidget(locationChooser_, 0, 1);
    grid->addWidget(caption("String_137"), 1, 0);
    grid->addWidget(appLocationChooser_, 1, 1);

    switch_->setObjectName(QStringLiteral("autoBackupSwitch"));
    // The image shows the state; a checked tool button would also look pressed.
    switch_->setAutoRaise(true);
    switch_->setIconSize(QSize(44, 24));
    switch_->setAccessibleName(xxplatform::text("String_155"));
    numberLab_->setObjectName(QStringLiteral("numberLab"));
    numberLab_->setMinimumWidth(
        numberLab_->fontMetrics().horizontalAdvance(QStringLiteral("9999") + xxplatform::text("String_173")));
    auto *numberRow = new QHBoxLayout;
    numberRow->setSpacing(4);
    numberRow->addWidget(switch_);
    numberRow->addSpacing(8);
    numberRow->addWidget(downBtn_);
    numberRow->addWidget(numberLab_);
    numberRow->addWidget(upBtn_);
    numberRow->addStretch();
    grid->addWidget(caption("String_155"), 2, 0);
    grid->addLayout(numberRow, 2, 1);
    layout->addLayout(grid);
    layout->addStretch();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelBtn_->setObjectName(QStringLiteral("cancelBtn"));
    sureBtn_->setObjectName(QStringLiteral("sureBtn"));
    for (QPushButton *button : {cancelBtn_, sureBtn_}) {
        button->setMinimumWidth(88);
        buttons->addWidget(button);
    }
    sureBtn_->setDefault(true);
    layout->addLayout(buttons);

    connect(locationChooser_, &QComboBox::activated, this, &XXLocationSettingView::locationChosen);
    connect(appLocationChooser_, &QComboBox::activated, this, &XXLocationSettingView::appLocationChosen);
    connect(switch_, &QToolButton::clicked, this, &XXLocationSettingView::toggleAutoBackup);
    connect(upBtn_, &QToolButton::clicked, this, &XXLocationSettingView::turnUp);
    connect(downBtn_, &QToolButton::clicked, this, &XXLocationSettingView::turnDown);
    connect(sureBtn_, &QPushButton::clicked, this, &XXLocationSettingView::sureAction);
    connect(cancelBtn_, &QPushButton::clicked, this, &QDialog::close);
    // Nothing can be changed before the stored values are shown.
    sureBtn_->setEnabled(false);
    resize(560, 260);

    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    xxplatform::runInBackground(
        this, 0ms,
        [] {
            XXDiskFileManager &manager = XXDiskFileManager::shareDiskFileManager();
            return std::make_tuple(manager.acquireCurrentLocationSetting(), manager.isTurnOnAutoBackUp(),
                                   long(manager.maxBackupFileNumber()));
        },
        [this](const std::tuple<std::int64_t, bool, long> &settings) {
            XXActivityIndicator::stopActivityIndicator(this);
            showSettings(std::get<0>(settings), std::get<1>(settings), std::get<2>(settings));
        });
}

QString XXLocationSettingView::backupFolderForLocation(std::int64_t location)
{
    return QString::fromStdString(xxbackup::backupRootForLocation(location));
}

void XXLocationSettingView::showSettings(std::int64_t location, bool isAutoBackup, long number)
{
    selectedLocationType_ = location == 0 ? 0 : 1;
    isAutoBackup_ = isAutoBackup;
    maxBackUpNumber_ = number;
    const std::int64_t other = 1 - selectedLocationType_;
    locationChooser_->clear();
    for (std::int64_t type : {selectedLocationType_, other})
        locationChooser_->addItem(xxplatform::text(type == 0 ? "String_135" : "String_136"), qlonglong(type));
    locationChooser_->setCurrentIndex(0);
    locationChooser_->setToolTip(backupFolderForLocation(selectedLocationType_));
    appLocationChooser_->clear();
    appLocationChooser_->addItem(xxplatform::text("String_55"), qlonglong(0));
    appLocationChooser_->setCurrentIndex(0);
    showSwitch();
    showNumber();
    loaded_ = true;
    sureBtn_->setEnabled(true);
}

void XXLocationSettingView::locationChosen(int index)
{
    if (index < 0)
        return;
    selectedLocationType_ = locationChooser_->itemData(index).toLongLong();
    locationChooser_->setToolTip(backupFolderForLocation(selectedLocationType_));
}

void XXLocationSettingView::appLocationChosen(int index)
{
    if (index < 0)
        return;
    fixLocationType_ = appLocationChooser_->itemText(index) == xxplatform::text("String_55") ? 0 : 1;
}

void XXLocationSettingView::toggleAutoBackup()
{
    isAutoBackup_ = !isAutoBackup_;
    showSwitch();
}

void XXLocationSettingView::turnUp()
{
    ++maxBackUpNumber_;
    showNumber();
}

void XXLocationSettingView::turnDown()
{
    maxBackUpNumber_ = std::max(minimumBackupNumber, maxBackUpNumber_ - 1);
    showNumber();
}

void XXLocationSettingView::showNumber()
{
    numberLab_->setText(QString::asprintf("%ld", maxBackUpNumber_) + xxplatform::text("String_173"));
}

void XXLocationSettingView::showSwitch()
{
    switch_->setIcon(
        xxplatform::namedIcon(isAutoBackup_ ? QStringLiteral("main41") : QStringLiteral("main40")));
}

void XXLocationSettingView::sureAction()
{
    if (!loaded_ || answered_)
        return;
    answered_ = true;
    auto block = std::move(sureBlock_);
    sureBlock_ = nullptr;
    cancelBlock_ = nullptr;
    close();
    if (block)
        block(selectedLocationType_, isAutoBackup_, maxBackUpNumber_, fixLocationType_);
}

void XXLocationSettingView::closeEvent(QCloseEvent *event)
{
    // QDialog's own handler would reject(), which comes back here.
    event->accept();
    if (answered_)
        return;
    answered_ = true;
    if (auto cancel = std::move(cancelBlock_)) {
        cancelBlock_ = nullptr;
        cancel();
    }
}

void XXLocationSettingView::reject()
{
    close();  // Escape answers as the close button does
}
