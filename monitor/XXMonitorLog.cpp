#include "XXMonitorLog.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex sinkMutex;
std::function<void(std::string_view)> sink;
}  // namespace

void XXMonitorLog(std::string_view line)
{
    std::lock_guard lock(sinkMutex);
    if (sink)
        sink(line);
    else
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

void XXMonitorSetLogSink(std::function<void(std::string_view)> newSink)
{
    std::lock_guard lock(sinkMutex);
    sink = std::move(newSink);
}
