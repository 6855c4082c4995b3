// A vault on a volume for the benchmarks, opened through the service as the window opens it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "XXDiskFileManager.h"
#include "XXFileWrapper.h"
#include "XXNotificationCenter.h"

namespace bench {

class Vault {
public:
    explicit Vault(const std::string &volume) : manager_(center_)
    {
        bool ok = true;
        manager_.startManagerWithDiskPath(volume, [&](const XXDiskResultObject &r) { ok &= r.isSuccess(); });
        manager_.createAccountWithPassword("Bench#2026", "",
                                           [&](const XXDiskResultObject &r) { ok &= r.isSuccess(); });
        manager_.loginWithPassword("Bench#2026", [&](const XXDiskResultObject &r) { ok &= r.isSuccess(); });
        if (!ok) {
            fprintf(stderr, "cannot open a vault in %s\n", volume.c_str());
            std::exit(1);
        }
    }
    ~Vault() { manager_.logOutComplete(nullptr); }

    std::shared_ptr<XXProtectFileWrapper> rootEntry()
    {
        std::shared_ptr<XXProtectFileWrapper> container;
        manager_.acquireProtectFileWithComplete(
            [&](const XXDiskResultObject &r) { container = r.successWrapper(); });
        return container->allSubFileArray().front();
    }
    std::shared_ptr<XXProtectFileWrapper> child(const std::string &name)
    {
        const auto root = rootEntry();  // keeps the listed children alive
        for (const auto &c : root->allSubFileArray())
            if (c->fileName() == name)
                return c;
        return nullptr;
    }
    // Imports the computer folder into the root; seconds taken.
    double importFolder(const std::string &path)
    {
        bool ok = false;
        const double t = seconds();
        manager_.importJob().start({XXFileWrapper::initWithURL(path)}, rootEntry(),
                                   [&](const XXDiskResultObject &r) { ok = r.isSuccess(); });
        return finished(ok, "import", t);
    }
    double exportFolder(const std::string &name, const std::string &to)
    {
        std::filesystem::create_directories(to);
        bool ok = false;
        const double t = seconds();
        manager_.exportJob().start(
            {child(name)}, XXFileWrapper::initWithURL(to), [&](const XXDiskResultObject &r) {
                ok = r.isSuccess();
                if (!ok)
                    fprintf(stderr, "%s code %lld (%s)\n", r.errorArea().c_str(), (long long)r.errorCode(),
                            r.errorFileName().c_str());
            });
        return finished(ok, "export", t);
    }
    XXDiskFileManager &manager() { return manager_; }

private:
    static double finished(bool ok, const char *what, double since)
    {
        const double secs = seconds() - since;
        if (!ok) {
            fprintf(stderr, "%s failed\n", what);
            std::exit(1);
        }
        return secs;
    }
    XXNotificationCenter center_;
    XXDiskFileManager manager_;
};

}  // namespace bench
