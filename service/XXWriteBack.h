// Saving a changed computer copy of a protected file (one opened through the cache) back
// into the store without ever holding neither version.
#pragma once

#include <memory>
#include <string>

#include "XXDiskResultObject.h"

class XXDiskFileManager;
class XXProtectFileWrapper;

// Replaces entry (a file of the tree) by the changed computer copy at changedCopyPath: the
// copy is first stored completely under a hidden temporary name in the same folder, then the
// old entry is removed and the new one renamed to the entry's name, and entry itself is
// updated (size, date), so the tree keeps the same object. A failure at any step leaves the
// old entry, or the complete new one under the entry's name; the error record (area "8+0", as a
// refused import, with the errno of the failed call) then carries "String_168"'s text as its
// tip. Should the
// store refuse the final rename right after the removal, the new content stays under the
// hidden name (logged) rather than being lost. Blocking: call on a worker.
XXDiskResultObject writeBackChangedCopy(XXDiskFileManager &manager,
                                        const std::shared_ptr<XXProtectFileWrapper> &entry,
                                        const std::string &changedCopyPath);
