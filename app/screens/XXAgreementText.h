// The agreement's text as the agreement screen and the about screen show it: paragraphs
// indented by the depth of their section number ("1." 10 points, "1.1." 26).
#pragma once

#include <QString>

class QTextDocument;

namespace xxagreement {

// The indent of one paragraph: its first six characters ("1." when it is shorter) split at
// "." give three pieces -> 26, two -> 10, else 0.
int indentForParagraph(const QString &paragraph);

// Fills document with the text of "String_127": for "zh-Hans" as one block, for other
// languages split at "|_|" into indented paragraphs; grey, 10 points between lines.
void fillDocument(QTextDocument &document, const QString &text, const QString &languageName);

}  // namespace xxagreement
