// The program's version and the maker's web address, both set once in app/CMakeLists.txt.
#pragma once

#include <QString>

namespace xxappinfo {

QString version();
QString makerSiteAddress();

}  // namespace xxappinfo
