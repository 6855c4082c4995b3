#include "XXAboutUsWindow.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "XXAppDelegate.h"
#include "XXAppInfo.h"
#include "XXImages.h"
#include "XXTexts.h"
#include "XXWindowStyle.h"

namespace {

QLabel *linkLabel(const QString &text, const QString &name)
{
    auto *label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()));
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QPushButton *closeButton(QWidget *window)
{
    auto *ok = new QPushButton(xxplatform::text("String_1"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, window, &QWidget::close);
    return ok;
}

}  // namespace

QString XXAboutUsWindow::versionText()
{
    return QStringLiteral("v%1").arg(xxappinfo::version());
}

XXAboutUsWindow::XXAboutUsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XXAboutUsWindow"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_33"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 28, 40, 24);
    layout->setSpacing(10);
    layout->addWidget(xxscreens::logoLabel(80));
    QLabel *name = xxscreens::headingLabel(QStringLiteral("Coffervale"));
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto *version = new QLabel(versionText());
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);
    QLabel *agreement = linkLabel(xxplatform::text("String_125"), QStringLiteral("agreementLink"));
    QLabel *site = linkLabel(xxplatform::text("String_159"), QStringLiteral("siteLink"));
    layout->addSpacing(8);
    layout->addWidget(agreement);
    layout->addWidget(site);
    layout->addSpacing(8);
    layout->addWidget(closeButton(this), 0, Qt::AlignCenter);

    connect(agreement, &QLabel::linkActivated, this, [] {
        if (XXAppDelegate *delegate = XXAppDelegate::shared())
            delegate->showProtocolWindow();
    });
    connect(site, &QLabel::linkActivated, this,
            [] { QDesktopServices::openUrl(QUrl(xxappinfo::makerSiteAddress())); });
    setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

XXCheckVersionWindow::XXCheckVersionWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XXCheckVersionWindow"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_32"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 28, 32, 24);
    layout->setSpacing(14);
    auto *row = new QHBoxLayout;
    auto *image = new QLabel;
    image->setPixmap(xxplatform::namedPixmap(QStringLiteral("main37"), QSize(48, 48), 2.0));
    row->addWidget(image, 0, Qt::AlignTop);
    auto *message = new QLabel(xxplatform::text("String_145"));
    message->setObjectName(QStringLiteral("versionMessage"));
    message->setWordWrap(true);
    message->setMinimumWidth(280);
    row->addWidget(message, 1);
    layout->addLayout(row);
    auto *version = new QLabel(XXAboutUsWindow::versionText());
    layout->addWidget(version);
    layout->addWidget(closeButton(this), 0, Qt::AlignRight);
}
