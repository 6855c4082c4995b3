#include "XXFolderDetailInfoView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>

#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXFolderDetailInfoView *XXFolderDetailInfoView::show(QWidget *parent,
                                                     std::shared_ptr<XXProtectFileWrapper> folder)
{
    auto *view = new XXFolderDetailInfoView(parent, std::move(folder));
    view->present();
    return view;
}

XXFolderDetailInfoView::XXFolderDetailInfoView(QWidget *parent, std::shared_ptr<XXProtectFileWrapper> folder)
    : XXDialogBase(parent), myWrapper_(std::move(folder)), number_(new QLabel), size_(new QLabel)
{
    setObjectName(QStringLiteral("XXFolderDetailInfoView"));
    auto *title = new QLabel(xxplatform::text("String_128"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    content_->addWidget(title);
    const QString name = QString::fromUtf8(myWrapper_->fileName().c_str());
    const QString parentPath = QString::fromUtf8(myWrapper_->parentFolderPath().c_str());
    auto *nameLine = new QLabel(xxplatform::text("String_129") + name);
    const QString location = parentPath == QStringLiteral("/") ? parentPath + name : parentPath + "/" + name;
    auto *pathLine = new QLabel(xxplatform::text("String_130") + location);
    for (QLabel *line : {nameLine, pathLine, number_, size_}) {
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->setWordWrap(true);
        content_->addWidget(line);
    }
    number_->setObjectName(QStringLiteral("numberLabel"));
    size_->setObjectName(QStringLiteral("sizeLabel"));
    number_->setText(xxplatform::text("String_131") + QStringLiteral("…"));
    size_->setText(xxplatform::text("String_132") + QStringLiteral("…"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *ok = addButton(buttons, xxplatform::text("String_1"), true);
    content_->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { finish({}); });
    setMinimumWidth(380);

    auto folderEntry = myWrapper_;
    xxplatform::runInBackground(
        this, 0ms,
        [folderEntry] {
            return XXDiskFileManager::shareDiskFileManager().protectWrapperSizeAndFileNum(*folderEntry);
        },
        [this](const XXProtectSizeAndNumber &counted) {
            number_->setText(xxplatform::text("String_131") + QString::number(counted.number));
            size_->setText(xxplatform::text("String_132") +
                           QString::fromStdString(XXTool::formattedFileSize(counted.size)));
        });
}

QString XXFolderDetailInfoView::numberText() const
{
    return number_->text();
}

QString XXFolderDetailInfoView::sizeText() const
{
    return size_->text();
}

void XXFolderDetailInfoView::answerClose()
{
    finish({});
}
