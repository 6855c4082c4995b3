#include "XXAgreeProtocolWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "XXAgreementText.h"
#include "XXAppDelegate.h"
#include "XXImages.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowStyle.h"

namespace {

QTextEdit *agreementView()
{
    auto *view = new QTextEdit;
    view->setObjectName(QStringLiteral("agreementText"));
    view->setReadOnly(true);
    xxagreement::fillDocument(*view->document(), xxplatform::text("String_127"),
                              QString::fromStdString(XXTool::shareTool().languageName()));
    view->moveCursor(QTextCursor::Start);
    return view;
}

}  // namespace

XXAgreeProtocolWindow::XXAgreeProtocolWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), text_(agreementView()),
      accept_(new QPushButton(xxplatform::text("String_169"))),
      next_(new QPushButton(xxplatform::text("String_116")))
{
    setObjectName(QStringLiteral("XXAgreeProtocolWindow"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_161"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_161")));
    layout->addWidget(text_, 1);

    accept_->setObjectName(QStringLiteral("acceptBox"));
    accept_->setCheckable(true);
    accept_->setFlat(true);
    accept_->setIconSize(QSize(18, 18));
    accept_->setCursor(Qt::PointingHandCursor);
    next_->setObjectName(QStringLiteral("nextBtn"));
    next_->setDefault(true);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(accept_);
    bottom->addStretch();
    bottom->addWidget(next_);
    layout->addLayout(bottom);

    connect(accept_, &QPushButton::toggled, this, &XXAgreeProtocolWindow::acceptChanged);
    connect(next_, &QPushButton::clicked, this, &XXAgreeProtocolWindow::goNext);
    acceptChanged();
    accept_->setFocus();
    resize(640, 560);
}

QString XXAgreeProtocolWindow::acceptImageName() const
{
    return accept_->isChecked() ? QStringLiteral("main41") : QStringLiteral("main40");
}

void XXAgreeProtocolWindow::acceptChanged()
{
    accept_->setIcon(xxplatform::namedIcon(acceptImageName()));
    next_->setEnabled(accept_->isChecked());
}

void XXAgreeProtocolWindow::goNext()
{
    if (!accept_->isChecked())
        return;
    if (XXAppDelegate *delegate = XXAppDelegate::shared())
        delegate->openRegisterWindow();
    close();
}

XXProtocolWindow::XXProtocolWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XXProtocolWindow"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_161"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_161")));
    layout->addWidget(agreementView(), 1);
    auto *ok = new QPushButton(xxplatform::text("String_1"));
    ok->setDefault(true);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    layout->addLayout(row);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    resize(640, 560);
}
