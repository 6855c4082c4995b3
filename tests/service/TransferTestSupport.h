// A logged-in vault with its tree, a folder standing for the computer, and the reports of
// a transfer pipeline collected as they come.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ScopedEnv.h"
#include "ServiceTestSupport.h"
#include "XXFileWrapper.h"
#include "XXProtectFileWrapper.h"
#include "XXServiceText.h"

using Files =
    std::vector<std::pair<std::string, std::string>>;  // path and content, as snapshotTree gives them

class TransferFixture : public ServiceFixture {
protected:
    TempDir computer;
    TempDir runtime;  // stands for XDG_RUNTIME_DIR
    std::shared_ptr<XXProtectFileWrapper> container;
    std::shared_ptr<XXProtectFileWrapper> root;
    std::vector<XXDiskResultObject> reports;

    void SetUp() override
    {
        environment.set("XDG_RUNTIME_DIR", runtime.path());
        environment.keep("XDG_CACHE_HOME");
        ServiceFixture::SetUp();
        openVault();
        refreshTree();
    }

    XXDiskResultBlock recorder()
    {
        return [this](const XXDiskResultObject &result) { reports.push_back(result); };
    }
    const XXDiskResultObject &lastReport()
    {
        static const XXDiskResultObject none = XXDiskResultObject();
        return reports.empty() ? none : reports.back();
    }

    void refreshTree()
    {
        const XXDiskResultObject result =
            run([&](const XXDiskResultBlock &b) { manager->acquireProtectFileWithComplete(b); });
        container = result.successWrapper();
        ASSERT_TRUE(container);
        root = container->allSubFileArray().front();
    }

    // The tree entry at a store path, names matched exactly; nullptr when absent.
    std::shared_ptr<XXProtectFileWrapper> entry(const std::string &path) const
    {
        std::shared_ptr<XXProtectFileWrapper> current = root;
        for (const std::string &name : xxservice::splitText(path, "/")) {
            if (name.empty())
                continue;
            std::shared_ptr<XXProtectFileWrapper> next;
            for (const auto &child : current->allSubFileArray())
                if (child->fileName() == name)
                    next = child;
            if (!next)
                return nullptr;
            current = next;
        }
        return current;
    }
    XXProtectFileArray entries(const Names &paths) const
    {
        XXProtectFileArray found;
        for (const std::string &path : paths)
            found.push_back(entry(path));
        return found;
    }

    // A file the tree shows in folder but the store does not hold.
    std::shared_ptr<XXProtectFileWrapper> showGhost(const std::string &folder, const std::string &name,
                                                    std::uint64_t size = 1)
    {
        auto ghost = std::make_shared<XXProtectFileWrapper>();
        ghost->setParentFolderPath(folder);
        ghost->setFileName(name);
        ghost->setFileSize(size);
        entry(folder)->appendSubFile(ghost);
        return ghost;
    }

    std::shared_ptr<XXFileWrapper> computerItem(const std::string &relative) const
    {
        return XXFileWrapper::initWithURL(relative.empty() ? computer.path() : computer / relative);
    }
    // Writes the folders (paths ending in "/") and files below the computer folder.
    void writeComputer(const Files &items) const
    {
        for (const auto &[path, content] : items) {
            if (path.back() == '/')
                std::filesystem::create_directories(computer / path);
            else
                writeFile(computer / path, content);
        }
    }

    // --- The store, read and written through the engine directly.

    // Stores the folders (paths ending in "/") and files in order, then rebuilds the tree.
    void storeAll(const Files &items)
    {
        for (const auto &[path, content] : items) {
            if (path.back() == '/')
                storeMkdir(path.substr(0, path.size() - 1));
            else
                storePut(path, content);
        }
        refreshTree();
    }
    static Names childNames(const XXProtectFileWrapper &folder) { return namesOf(folder.allSubFileArray()); }

    // Copies (or moves) the entries at paths into the folder at destination.
    void operate(const Names &paths, const std::string &destination, bool isCopy)
    {
        manager->operateJob().start(entries(paths), entry(destination), isCopy, recorder());
    }

private:
    ScopedEnv environment;
};

// A failure report; name, when given, is the existFileName of a conflict (codes 5 and 6)
// or the errorFileName of a failed item.
inline void expectReport(const XXDiskResultObject &result, const std::string &area, std::int64_t code,
                         const std::string &name = {})
{
    EXPECT_FALSE(result.isSuccess());
    EXPECT_EQ(result.errorArea(), area);
    EXPECT_EQ(result.errorCode(), code);
    if (!name.empty()) {
        EXPECT_EQ(code == 5 || code == 6 ? result.existFileName() : result.errorFileName(), name);
    }
}

inline void expectSuccess(const XXDiskResultObject &result)
{
    EXPECT_TRUE(result.isSuccess()) << result.errorArea() << " code " << result.errorCode() << " "
                                    << result.errorFileName() << result.existFileName();
    EXPECT_EQ(result.successCode(), 0);
}

// Random bytes (they do not compress), so a file's chunks really cross the object writer.
inline std::string randomContent(size_t size, unsigned seed)
{
    std::string content(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char &c : content) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23);
    }
    return content;
}
