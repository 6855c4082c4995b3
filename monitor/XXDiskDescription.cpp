#include "XXDiskDescription.h"

std::string XXDiskDescription::describe() const
{
    return "{DAMediaBSDName = " + mediaBSDName + "; DADeviceProtocol = " + deviceProtocol +
        "; DAMediaSize = " + std::to_string(mediaSize) + "; DAVolumePath = " + volumePath + "}";
}
