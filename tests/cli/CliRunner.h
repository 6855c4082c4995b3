// Runs a program (coffervale-cli, unless named otherwise) as a child process and captures
// what it prints.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
// input (else /dev/null).
inline CliResult runProgram(std::vector<std::string> argStore, const std::vector<std::string> &env = {},
                            const std::optional<std::string> &input = std::nullopt)
{
    std::vector<char *> argv;
    for (auto &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // The test's variables first (the first of two equal names wins), then the parent's
    // that the test does not set, leaving out every COFFERVALE_ one.
    std::vector<std::string> envStore = env;
    auto nameOf = [](const std::string &kv) { return kv.substr(0, kv.find('=')); };
    for (char **e = environ; *e; e++) {
        std::string kv = *e;
        bool overridden = false;
        for (const auto &mine : env)
            overridden = overridden || nameOf(mine) == nameOf(kv);
        if (kv.rfind("COFFERVALE_", 0) != 0 && !overridden)
            envStore.push_back(kv);
    }
    std::vector<char *> envp;
    for (auto &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
    if (pipe(outPipe) < 0 || pipe(errPipe) < 0 || (input && pipe(inPipe) < 0))
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
        posix_spawn_file_actions_addclose(&actions, inPipe[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    // No controlling terminal: setsid keeps /dev/tty out of reach, as in a script.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    CliResult r;
    if (posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data()) != 0)
        return r;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(outPipe[1]);
    close(errPipe[1]);
    if (input) {
        // Small answers fit in the pipe's buffer; the child reads them when it asks.
        close(inPipe[0]);
        [[maybe_unused]] const ssize_t written = write(inPipe[1], input->data(), input->size());
        close(inPipe[1]);
    }
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open) {
        poll(fds, 2, -1);
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof(buf));
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open--;
            } else {
                (i ? r.err : r.out).append(buf, (size_t)n);
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

inline CliResult runCli(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                        const std::optional<std::string> &input = std::nullopt)
{
    std::vector<std::string> argStore = {COFFERVALE_CLI_PATH};
    argStore.insert(argStore.end(), args.begin(), args.end());
    return runProgram(argStore, env, input);
}
