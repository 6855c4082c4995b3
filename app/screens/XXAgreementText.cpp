#include "XXAgreementText.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace xxagreement {

int indentForParagraph(const QString &paragraph)
{
    const QString head = paragraph.size() < 6 ? QStringLiteral("1.") : paragraph.left(6);
    const auto pieces = head.split(QLatin1Char('.')).size();
    if (pieces == 3)
        return 26;
    if (pieces == 2)
        return 10;
    return 0;
}

void fillDocument(QTextDocument &document, const QString &text, const QString &languageName)
{
    document.clear();
    QTextCursor cursor(&document);
    QTextCharFormat grey;
    grey.setForeground(QColor::fromRgbF(0.4f, 0.4f, 0.4f));
    QTextBlockFormat spacing;
    spacing.setLineHeight(10, QTextBlockFormat::LineDistanceHeight);

    if (languageName == QStringLiteral("zh-Hans")) {
        cursor.setBlockFormat(spacing);
        cursor.insertText(text, grey);
        return;
    }
    const QStringList paragraphs = text.split(QStringLiteral("|_|"), Qt::SkipEmptyParts);
    bool first = true;
    for (const QString &paragraph : paragraphs) {
        QTextBlockFormat format = spacing;
        format.setLeftMargin(indentForParagraph(paragraph));
        if (first)
            cursor.setBlockFormat(format);
        else
            cursor.insertBlock(format);
        cursor.insertText(paragraph, grey);
        first = false;
    }
}

}  // namespace xxagreement
