// Size, time and date texts, and the transfer speed measurement.
#include <charconv>
#include <cmath>
#include <ctime>

#include "XXDateExtension.h"
#include "XXTool.h"

namespace {

constexpr std::string_view kDatePattern = "yyyy-MM-dd HH:mm:ss";

// Locale-independent: the Qt application sets the C locale from the environment, and a
// decimal comma must not appear in these texts.
std::string fixed(double value, int decimals)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string twoDigits(long value)
{
    std::string digits = std::to_string(value);
    return value >= 0 && value < 10 ? "0" + digits : digits;
}

}  // namespace

std::string XXTool::currentDate() const
{
    return formattedDate(std::chrono::system_clock::now());
}

std::string XXTool::formattedDate(Date date) const
{
    return XXDateExtension::dateString(date, kDatePattern);
}

std::optional<XXTool::Date> XXTool::stringToDate(std::string_view text) const
{
    return XXDateExtension::date(text, kDatePattern);
}

void XXTool::transmitStartTime(double secondsSince1970)
{
    startTime_.store(secondsSince1970);
}

void XXTool::transmitEndTime(double secondsSince1970, std::uint64_t completeSize)
{
    const double elapsed = secondsSince1970 - startTime_.load();
    const double speed = static_cast<double>(completeSize) / 1024.0 / 1024.0 / elapsed;
    if (std::isfinite(speed) && speed > 0)
        transmitSpend_.store(speed);
}

std::string XXTool::timeNeedFromSize(std::uint64_t remainingBytes) const
{
    const double mebibytes = static_cast<double>(remainingBytes >> 20);
    double seconds = mebibytes / transmitSpend_.load();
    // The speed is positive, yet a tiny one could give more seconds than a long holds.
    if (!(seconds < 1e15))
        seconds = 1e15;
    const long total = static_cast<long>(seconds);
    return twoDigits(total / 3600) + ":" + twoDigits(total % 3600 / 60) + ":" + twoDigits(total % 60);
}

std::string XXTool::formattedFileSize(std::uint64_t bytes)
{
    if (bytes == 0)
        return "0 KB";
    if (bytes < 1024)
        return std::to_string(bytes) + "bytes";
    double value;
    const char *unit;
    if (bytes >= (std::uint64_t{1} << 30)) {
        value = static_cast<double>(bytes) / (1 << 30), unit = "GB";
    } else if (bytes >= (std::uint64_t{1} << 20)) {
        value = static_cast<double>(bytes) / (1 << 20), unit = "MB";
    } else {
        value = static_cast<double>(bytes) / 1024, unit = "KB";
    }
    const int decimals = value < 10 ? 2 : value < 100 ? 1 : 0;
    return fixed(value, decimals) + unit;
}

std::string XXTool::changeTimeStringWith(std::int64_t secondsSince1970)
{
    const std::time_t t = static_cast<std::time_t>(secondsSince1970);
    std::tm fields{};
    if (!gmtime_r(&t, &fields))
        return "";
    return std::to_string(fields.tm_year + 1900) + "-" + twoDigits(fields.tm_mon + 1) + "-" +
        twoDigits(fields.tm_mday) + " " + twoDigits(fields.tm_hour) + ":" + twoDigits(fields.tm_min) + ":" +
        twoDigits(fields.tm_sec);
}
