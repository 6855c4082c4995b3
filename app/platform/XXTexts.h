// Texts of the current language for widgets, and helpers for the secrets typed into them.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace xxplatform {

// The text of a "String_n" key in the current language (the key itself when it has none).
QString text(std::string_view key);
// "Coffervale" or "Coffervale – <subtitle>", the form of every window title.
QString windowTitle(const QString &subtitle = {});

// "String_240" and the paths of the changed copies that were kept, one a line.
QString keptCopiesMessage(const std::vector<std::string> &paths);

// The number of characters (code points) of text, and text cut to its first count of them;
// fields count characters, not UTF-16 units.
qsizetype characterCount(const QString &text);
QString firstCharacters(const QString &text, qsizetype count);

// Overwrites a password's bytes before the string lets them go.
void wipe(std::string &secret);

}  // namespace xxplatform
