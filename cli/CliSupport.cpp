#include "CliSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "fs.h"

namespace cli {

std::string causeText(int err)
{
    switch (err) {
    case 0:
        return "no system error was reported";
    case EACCES:
        return "the vault could not be decrypted (damaged, or not logged in)";
    case EBADMSG:
        return "the vault is damaged there (run check)";
    case ENOSPC:
    case EDQUOT:
        return "the drive is full";
    case EIO:
        return "the drive reported a read or write error (it may be failing, or was pulled out)";
    case EROFS:
        return "the drive is write-protected";
    case ENAMETOOLONG:
        return "the name or path is too long for the vault (at most 255 bytes a name, " +
            std::to_string(FS_PATH_MAX) + " a path)";
    default:
        return strerror(err);
    }
}

void failErrno(const std::string &what, int err)
{
    throw OperationError(what + ": " + causeText(err));
}

bool stdinIsTerminal()
{
    return isatty(STDIN_FILENO);
}

static std::string readHidden(const std::string &prompt)
{
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        throw OperationError("no password: set COFFERVALE_PASSWORD or use --password-file FILE");
    struct termios old {};
    bool restore = tcgetattr(tty, &old) == 0;
    if (restore) {
        struct termios quiet = old;
        quiet.c_lflag &= ~(tcflag_t)ECHO;
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    if (write(tty, prompt.data(), prompt.size()) < 0) {
        // The prompt is a courtesy; reading goes on.
    }
    std::string line;
    char c;
    while (read(tty, &c, 1) == 1 && c != '\n')
        line += c;
    if (restore)
        tcsetattr(tty, TCSAFLUSH, &old);
    if (write(tty, "\n", 1) < 0) {
    }
    close(tty);
    return line;
}

// An option given on this command line wins over the environment.
static std::optional<std::string> passwordFromEnvironmentOrFile(const Invocation &inv)
{
    if (inv.passwordFile) {
        std::ifstream in(*inv.passwordFile);
        if (!in)
            failErrno("password file " + *inv.passwordFile, errno);
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    if (const char *env = getenv("COFFERVALE_PASSWORD"))
        return std::string(env);
    return std::nullopt;
}

std::string readPassword(const Invocation &inv, const std::string &prompt)
{
    if (auto pw = passwordFromEnvironmentOrFile(inv))
        return *pw;
    return readHidden(prompt);
}

std::string readNewPassword(const Invocation &inv, const std::string &prompt)
{
    if (auto pw = passwordFromEnvironmentOrFile(inv))
        return *pw;
    std::string first = readHidden(prompt);
    std::string second = readHidden("Repeat the password: ");
    if (first != second)
        throw OperationError("the two passwords differ");
    return first;
}

std::string readLine(const std::string &prompt)
{
    fputs(prompt.c_str(), stderr);
    fflush(stderr);
    std::string line;
    int c;
    while ((c = getchar()) != EOF && c != '\n')
        line += (char)c;
    return line;
}

std::optional<std::string> takeOption(std::vector<std::string> &args, const std::string &name)
{
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == name) {
            if (i + 1 >= args.size())
                throw UsageError(name + " needs a value");
            std::string value = args[i + 1];
            args.erase(args.begin() + (long)i, args.begin() + (long)i + 2);
            return value;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            std::string value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + (long)i);
            return value;
        }
        if (args[i] == "--")
            break;
    }
    return std::nullopt;
}

bool takeFlag(std::vector<std::string> &args, const std::string &flag)
{
    for (size_t i = 0; i < args.size() && args[i] != "--"; i++)
        if (args[i] == flag) {
            args.erase(args.begin() + (long)i);
            return true;
        }
    return false;
}

void rejectUnknownOptions(const std::vector<std::string> &args)
{
    for (const auto &a : args) {
        if (a == "--")
            return;
        if (a.size() > 1 && a[0] == '-')
            throw UsageError("unknown option " + a);
    }
}

static double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Small transfers finish before a line would be worth reading.
static const uint64_t kProgressThreshold = 8u << 20;

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), started_(now()),
      enabled_(total >= kProgressThreshold && isatty(STDERR_FILENO))
{}

Progress::~Progress()
{
    if (shown_)
        fputs("\r\033[K", stderr);
}

void Progress::advance(uint64_t bytes)
{
    done_ += bytes;
    if (!enabled_)
        return;
    double t = now();
    if (t - lastShown_ < 0.2 && done_ < total_)
        return;
    lastShown_ = t;
    double elapsed = t - started_;
    double rate = elapsed > 0 ? (double)done_ / elapsed / 1048576.0 : 0;
    unsigned percent = total_ ? (unsigned)(done_ * 100 / total_) : 100;
    fprintf(stderr, "\r\033[K%s  %3u%%  %.1f MiB/s", label_.c_str(), percent, rate);
    fflush(stderr);
    shown_ = true;
}

}  // namespace cli
