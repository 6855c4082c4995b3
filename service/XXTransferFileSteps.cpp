#include "XXTransferFileSteps.h"

#include <cerrno>

#include "XXDiskFileManager.h"
#include "XXServiceLog.h"
#include "XXTransferFailure.h"
#include "fs.h"

namespace xxtransfer {

XXCopied closeStoreTarget(int handle, XXCopied outcome, const std::string &targetPath, int *systemError)
{
    auto engine = XXDiskFileManager::lockEngine();
    const int closed = fs_close(handle);
    if (outcome == XXCopied::done && closed != 0) {
        *systemError = errno;
        XXServiceLogf("fs_close--%d errno %d: %s", closed, *systemError,
                      XXServiceLogEscaped(targetPath).c_str());
        XXNoteTransferFailure({XXFailedStep::writeFile, targetPath, *systemError});
        outcome = XXCopied::failed;
    }
    if (outcome != XXCopied::done && fs_unlink(targetPath.c_str()) != 0)
        XXServiceLogf("cannot remove the incomplete %s: errno %d", XXServiceLogEscaped(targetPath).c_str(),
                      errno);
    return outcome;
}

}  // namespace xxtransfer
