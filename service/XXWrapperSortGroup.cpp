#include "XXWrapperSortGroup.h"

#include "XXTool.h"

namespace xxservice {

int sortGroupOf(bool isDirectory, std::int64_t fileType)
{
    if (isDirectory || fileType == XXFileTypeFolder)
        return 0;
    switch (fileType) {
    case XXFileTypeVideo:
        return 1;
    case XXFileTypeMusic:
        return 2;
    case XXFileTypeText:
        return 3;
    case XXFileTypePhoto:
        return 4;
    case XXFileTypeArchive:
        return 5;
    default:
        return 6;
    }
}

std::string iconNameForFileType(std::int64_t fileType)
{
    switch (fileType) {
    case XXFileTypeFolder:
        return "";
    case XXFileTypePhoto:
        return "main46";
    case XXFileTypeArchive:
        return "main50";
    case XXFileTypeText:
        return "main47";
    case XXFileTypeVideo:
        return "main49";
    case XXFileTypeOther:
        return "main48";
    default:
        return "main45";  // music, and any value outside the table
    }
}

}  // namespace xxservice
