#include "XXQtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include "XXExecutablePath.h"

#include <memory>

namespace xxplatform {

QStringList qtTranslationDirectories()
{
    // The bundle starts the program through the dynamic loader, whose folder applicationDirPath()
    // would give; the program's own file is what the bundle's layout is relative to.
    const QString programFolder = QString::fromStdString(xxtool::executableFolder());
    return {QDir::cleanPath(programFolder + QStringLiteral("/../translations")),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

bool useQtTranslations(const std::string &languageName, const QStringList &directories)
{
    static QTranslator *installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (languageName != "zh-Hans")
        return true;
    auto translator = std::make_unique<QTranslator>();
    for (const QString &directory : directories)
        if (translator->load(QStringLiteral("qtbase_zh_CN"), directory)) {
            installed = translator.release();
            QCoreApplication::installTranslator(installed);
            return true;
        }
    return false;
}

}  // namespace xxplatform
