// Qt's own texts (the file dialog's "Look in" and "File name", the standard buttons, the
// text fields' menus) in the program's language, from the catalogs Qt ships.
#pragma once

#include <QStringList>

#include <string>

namespace xxplatform {

// Where Qt's catalogs are looked for, in order: "translations" beside the executable's bin
// folder (the portable bundle carries them there), then Qt's own translations folder.
QStringList qtTranslationDirectories();

// Replaces Qt's catalog by the one for languageName ("zh-Hans"; English needs none), from the
// first of directories that has it. False when a language that needs one found none.
bool useQtTranslations(const std::string &languageName,
                       const QStringList &directories = qtTranslationDirectories());

}  // namespace xxplatform
