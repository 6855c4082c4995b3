#include "XXWindowStyle.h"

#include <QLabel>
#include <QWidget>

#include "XXImages.h"
#include "XXTexts.h"

namespace xxscreens {

void prepareWindow(QWidget &window, const QString &subtitle)
{
    window.setAttribute(Qt::WA_DeleteOnClose);
    window.setWindowTitle(xxplatform::windowTitle(subtitle));
    window.setWindowIcon(xxplatform::applicationIcon());
}

QLabel *headingLabel(const QString &text)
{
    auto *label = new QLabel(text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.35);
    font.setBold(true);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

QLabel *logoLabel(int size)
{
    auto *label = new QLabel;
    label->setPixmap(xxplatform::namedPixmap(QStringLiteral("coffervale"), QSize(size, size), 2.0));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace xxscreens
