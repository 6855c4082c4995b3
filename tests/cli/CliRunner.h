// Runs a program (coffervale-cli, unless named otherwise) as a child process and captures
// what it prints.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"

extern char **environ;

struct CliResult {
    int status = -1;
    std::string out, err;
};

// The run ended with status, its error output holds errPart and its output outPart.
inline ::testing::AssertionResult exited(const CliResult &r, int status, const std::string &errPart = "",
                                         const std::string &outPart = "")
{
    if (r.status == status && r.err.find(errPart) != std::string::npos &&
        r.out.find(outPart) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "status " << r.status << "\nerror output: " << r.err << "\noutput: " << r.out;
}

// argStore[0] is the program started; input, when given, is what the child reads on standard
// input (else /dev/null). What it prints goes to files, which never fill up as a pipe would.
inline CliResult runProgram(std::vector<std::string> argStore, const std::vector<std::string> &env = {},
                            const std::optional<std::string> &input = std::nullopt)
{
    // The test's variables first (the first of two equal names wins), then the parent's
    // that the test does not set, leaving out every COFFERVALE_ one.
    std::vector<std::string> envStore = env;
    auto nameOf = [](const std::string &kv) { return kv.substr(0, kv.find('=')); };
    for (char **e = environ; *e; e++) {
        const std::string kv = *e;
        const bool overridden =
            std::any_of(env.begin(), env.end(), [&](auto &mine) { return nameOf(mine) == nameOf(kv); });
        if (kv.rfind("COFFERVALE_", 0) != 0 && !overridden)
            envStore.push_back(kv);
    }
    auto pointers = [](std::vector<std::string> &strings) {
        std::vector<char *> result;
        for (auto &s : strings)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    };
    const std::vector<char *> argv = pointers(argStore), envp = pointers(envStore);

    TempDir io;
    if (input)
        writeFile(io / "in", *input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input ? (io / "in").c_str() : "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // No controlling terminal: setsid keeps /dev/tty out of reach, as in a script.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    CliResult r;
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid)
        return r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readFile(io / "out");
    r.err = readFile(io / "err");
    return r;
}

inline CliResult runCli(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                        const std::optional<std::string> &input = std::nullopt)
{
    std::vector<std::string> argStore = {COFFERVALE_CLI_PATH};
    argStore.insert(argStore.end(), args.begin(), args.end());
    return runProgram(argStore, env, input);
}

// A volume folder and a folder to take files out to, in a temporary one; cli() runs
// coffervale-cli on the volume with the password in pw unless env names another.
class CliVolumeTest : public ::testing::Test {
protected:
    TempDir tmp;
    std::string vol = tmp / "vol";
    std::vector<std::string> pw = {"COFFERVALE_PASSWORD=GoodPassword1"};

    void SetUp() override
    {
        std::filesystem::create_directories(vol);
        std::filesystem::create_directories(tmp / "out");
    }
    CliResult cli(std::vector<std::string> args, const std::vector<std::string> &env = {},
                  const std::optional<std::string> &input = std::nullopt)
    {
        args.insert(args.begin(), {"--volume", vol});
        // The first of two equal names wins: what a test passes overrides the default.
        std::vector<std::string> all = env;
        all.insert(all.end(), pw.begin(), pw.end());
        return runCli(args, all, input);
    }
    std::string store() const { return vol + "/.TovinCoffervale"; }
};
