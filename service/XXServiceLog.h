// Diagnostic lines of the service. They go to the system log (syslog), never to the user.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// One line at LOG_INFO. Any thread.
void XXServiceLog(std::string_view line);
// printf-style, as the service's fixed formats ("fs_login--%d") are written.
void XXServiceLogf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Lines that help while debugging only (one per destroyed tree entry, for example); they
// are dropped unless turned on, or COFFERVALE_SERVICE_DEBUG is set to a non-empty value.
void XXServiceDebugLog(std::string_view line);
void XXServiceSetDebugLogging(bool on);

// Routes every line (debug lines only when turned on) to sink instead of syslog; an empty
// sink restores syslog. For tests and the command-line tool. Any thread.
void XXServiceSetLogSink(std::function<void(std::string_view)> sink);

// A name from the store made safe for a log line: bytes outside printable ASCII as \xHH.
std::string XXServiceLogEscaped(std::string_view text);
