// The import pipeline's operations on the manager (XXEncodePipeline does the work).
#include "XXDiskFileManager.h"
#include "XXServiceLog.h"

void XXDiskFileManager::startEncoderSelectedFilePath(const XXFileArray &files,
                                                     const std::shared_ptr<XXProtectFileWrapper> &destination,
                                                     const XXDiskResultBlock &complete)
{
    encoder_.start(files, destination, complete);
}

void XXDiskFileManager::continueEncodeFile()
{
    encoder_.continueRun();
}

void XXDiskFileManager::continueEncodeFileWithIsExistType(std::uint64_t existType)
{
    encoder_.continueWithExistType(existType);
}

void XXDiskFileManager::continueEncodeFileWithIsErrorType(std::uint64_t errorType)
{
    encoder_.continueWithErrorType(errorType);
}

void XXDiskFileManager::cancelEncodeFile()
{
    encoder_.cancel();
}

void XXDiskFileManager::setEncodeProgressBlock(XXTransferProgressBlock block)
{
    encoder_.setProgressBlock(std::move(block));
}

std::uint64_t XXDiskFileManager::allSelectedComputerFileSize(const XXFileArray &files)
{
    return XXEncodePipeline::allSelectedComputerFileSize(files);
}

std::uint64_t XXDiskFileManager::computerWrapperSize(XXFileWrapper &wrapper)
{
    return XXEncodePipeline::computerWrapperSize(wrapper);
}

void XXDiskFileManager::waitForTransfersToStop()
{
    if (!transferActivity_.cancelAllAndWait(std::chrono::seconds(10)))
        XXServiceLog("a transfer did not stop within 10 s; unmounting anyway");
}
