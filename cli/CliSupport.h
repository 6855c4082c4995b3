// What every command shares: the parsed invocation, errors that become exit codes,
// password input and the progress line.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// Exit status 1: an operation failed; the message is printed on one line.
struct OperationError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Exit status 2: the command line is wrong; the command's usage is printed.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Invocation {
    std::string volume;  // folder that holds (or will hold) the vault
    std::optional<std::string> passwordFile;
    std::string command;
    std::vector<std::string> args;  // after the command name
};

// Why a call failed, in words for people: the usual causes spelled out, else the system's text.
std::string causeText(int err);
// "what: reason" from errno.
[[noreturn]] void failErrno(const std::string &what, int err);

// The password: COFFERVALE_PASSWORD, else the first line of --password-file, else the terminal
// without echo. Never the command line.
std::string readPassword(const Invocation &inv, const std::string &prompt);
// For a new password: the same sources, asked twice on a terminal.
std::string readNewPassword(const Invocation &inv, const std::string &prompt);
std::string readLine(const std::string &prompt);
bool stdinIsTerminal();

// Options of the form --name VALUE or --name=VALUE, removed from args as they are read.
std::optional<std::string> takeOption(std::vector<std::string> &args, const std::string &name);
bool takeFlag(std::vector<std::string> &args, const std::string &flag);
void rejectUnknownOptions(const std::vector<std::string> &args);

// A progress line on stderr for large transfers, only when stderr is a terminal.
class Progress {
public:
    Progress(std::string label, uint64_t total);
    ~Progress();
    void advance(uint64_t bytes);

private:
    std::string label_;
    uint64_t total_;
    uint64_t done_ = 0;
    double started_;
    double lastShown_ = 0;
    bool shown_ = false;
    bool enabled_;
};

}  // namespace cli
