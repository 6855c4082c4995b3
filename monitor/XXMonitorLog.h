// Diagnostic lines of the monitors. They go to standard error (the desktop session's journal)
// unless the application routes them elsewhere. Never shown to the user.
#pragma once

#include <functional>
#include <string_view>

void XXMonitorLog(std::string_view line);
// An empty sink restores standard error. Any thread.
void XXMonitorSetLogSink(std::function<void(std::string_view)> sink);
