#include "XXQtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace xxplatform {

QStringList qtTranslationDirectories()
{
    return {QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../translations")),
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
