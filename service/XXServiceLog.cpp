#include "XXServiceLog.h"

#include <syslog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

std::mutex &sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::function<void(std::string_view)> &sink()
{
    static std::function<void(std::string_view)> current;
    return current;
}

std::atomic<bool> &debugLogging()
{
    static std::atomic<bool> on{[] {
        const char *value = std::getenv("COFFERVALE_SERVICE_DEBUG");
        return value && *value;
    }()};
    return on;
}

void emit(int priority, std::string_view line)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    syslog(priority, "%.*s", static_cast<int>(line.size()), line.data());
}

}  // namespace

void XXServiceLog(std::string_view line)
{
    emit(LOG_INFO, line);
}

void XXServiceLogf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed >= 0) {
        std::vector<char> text(static_cast<size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        XXServiceLog(std::string_view(text.data(), static_cast<size_t>(needed)));
    }
    va_end(args);
}

void XXServiceDebugLog(std::string_view line)
{
    if (debugLogging().load(std::memory_order_relaxed))
        emit(LOG_DEBUG, line);
}

void XXServiceSetDebugLogging(bool on)
{
    debugLogging().store(on);
}

void XXServiceSetLogSink(std::function<void(std::string_view)> newSink)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    sink() = std::move(newSink);
}

std::string XXServiceLogEscaped(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}
