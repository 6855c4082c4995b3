#include "XXAppInfo.h"

namespace xxappinfo {

QString version()
{
    return QStringLiteral(COFFERVALE_VERSION);
}

QString makerSiteAddress()
{
    return QStringLiteral(COFFERVALE_MAKER_URL);
}

}  // namespace xxappinfo
