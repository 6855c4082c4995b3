// The name, date and size columns both panes' file lists show.
#pragma once

#include <QVariant>

#include "XXTexts.h"

namespace xxmodels {

inline constexpr int fileColumnCount = 3;

// The header of a name, date or size column ("String_139" to "String_141").
inline QVariant fileColumnTitle(int section, Qt::Orientation orientation, int role)
{
    static const char *keys[fileColumnCount] = {"String_139", "String_140", "String_141"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= fileColumnCount)
        return {};
    return xxplatform::text(keys[section]);
}

}  // namespace xxmodels
