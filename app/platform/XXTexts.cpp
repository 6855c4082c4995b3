#include "XXTexts.h"

#include <QList>

#include <openssl/crypto.h>

#include "XXTool.h"

namespace xxplatform {

QString text(std::string_view key)
{
    return QString::fromStdString(XXTool::shareTool().acquireLocalizedStringFromKey(key));
}

QString windowTitle(const QString &subtitle)
{
    const QString name = QStringLiteral("Coffervale");
    return subtitle.isEmpty() ? name : subtitle + QStringLiteral(" – ") + name;
}

QString keptCopiesMessage(const std::vector<std::string> &paths)
{
    QString message = text("String_240");
    for (const std::string &path : paths)
        message += QLatin1Char('\n') + QString::fromLocal8Bit(path.c_str());
    return message;
}

qsizetype characterCount(const QString &text)
{
    return text.toUcs4().size();
}

QString firstCharacters(const QString &text, qsizetype count)
{
    const auto characters = text.toUcs4();
    if (characters.size() <= count)
        return text;
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData()), count);
}

void wipe(std::string &secret)
{
    if (!secret.empty())
        OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

}  // namespace xxplatform
