#include "XXDateExtension.h"

#include <cmath>
#include <ctime>

#include "XXTool.h"

namespace {

// Past year 9999 the fixed-width patterns no longer hold; such times are treated as invalid.
constexpr double kLatestSeconds = 253402300799.0;

bool toTimeT(double seconds, std::time_t &out)
{
    if (!std::isfinite(seconds) || seconds < -kLatestSeconds || seconds > kLatestSeconds)
        return false;
    out = static_cast<std::time_t>(std::floor(seconds));
    return true;
}

std::time_t toTimeT(XXDateExtension::Date date)
{
    return static_cast<std::time_t>(
        std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count());
}

std::tm localFields(std::time_t t)
{
    std::tm fields{};
    localtime_r(&t, &fields);
    return fields;
}

void appendNumber(std::string &out, int value, int width)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0)
        out.push_back('-');
    if (static_cast<int>(digits.size()) < width)
        out.append(width - digits.size(), '0');
    out += digits;
}

struct Field {
    std::string_view token;
    int std::tm::*member;
    int offset;  // value shown = tm field + offset
};

constexpr Field kFields[] = {
    {"yyyy", &std::tm::tm_year, 1900}, {"MM", &std::tm::tm_mon, 1}, {"dd", &std::tm::tm_mday, 0},
    {"HH", &std::tm::tm_hour, 0},      {"mm", &std::tm::tm_min, 0}, {"ss", &std::tm::tm_sec, 0},
};

const Field *fieldAt(std::string_view format, std::size_t pos)
{
    for (const auto &field : kFields) {
        if (format.substr(pos, field.token.size()) == field.token)
            return &field;
    }
    return nullptr;
}

std::string formatFields(const std::tm &fields, std::string_view format)
{
    std::string out;
    for (std::size_t pos = 0; pos < format.size();) {
        if (const Field *field = fieldAt(format, pos)) {
            appendNumber(out, fields.*(field->member) + field->offset, static_cast<int>(field->token.size()));
            pos += field->token.size();
        } else {
            out.push_back(format[pos++]);
        }
    }
    return out;
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

XXDateExtension::Date XXDateExtension::dateFromSeconds(double secondsSince1970)
{
    // Out-of-range values would overflow the clock's nanosecond count.
    if (!std::isfinite(secondsSince1970))
        return Date{};
    if (secondsSince1970 > kLatestSeconds)
        secondsSince1970 = kLatestSeconds;
    if (secondsSince1970 < -kLatestSeconds)
        secondsSince1970 = -kLatestSeconds;
    return Date{} +
        std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(secondsSince1970));
}

std::string XXDateExtension::dateString(Date date, std::string_view format)
{
    return formatFields(localFields(toTimeT(date)), format);
}

std::optional<XXDateExtension::Date> XXDateExtension::date(std::string_view text, std::string_view format)
{
    std::tm fields{};
    fields.tm_mday = 1;
    std::size_t at = 0;
    for (std::size_t pos = 0; pos < format.size();) {
        if (const Field *field = fieldAt(format, pos)) {
            const std::size_t width = field->token.size();
            if (at + width > text.size())
                return std::nullopt;
            int value = 0;
            for (std::size_t i = 0; i < width; ++i) {
                const char c = text[at + i];
                if (c < '0' || c > '9')
                    return std::nullopt;
                value = value * 10 + (c - '0');
            }
            fields.*(field->member) = value - field->offset;
            at += width;
            pos += width;
        } else {
            if (at >= text.size() || text[at] != format[pos])
                return std::nullopt;
            ++at;
            ++pos;
        }
    }
    if (at != text.size())
        return std::nullopt;

    const int year = fields.tm_year + 1900;
    const int month = fields.tm_mon + 1;
    if (month < 1 || month > 12 || fields.tm_mday < 1 || fields.tm_mday > daysInMonth(year, month) ||
        fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 59) {
        return std::nullopt;
    }
    fields.tm_isdst = -1;
    const std::time_t t = std::mktime(&fields);
    // -1 is also the honest answer for one second of 1969-12-31, depending on the zone.
    if (t == static_cast<std::time_t>(-1) && !(year == 1969 && month == 12 && fields.tm_mday == 31)) {
        return std::nullopt;
    }
    // The clock counts nanoseconds: about 1678 to 2262 is all it can hold.
    constexpr auto kLimit =
        std::chrono::duration_cast<std::chrono::seconds>(Date::duration::max()).count() - 1;
    if (t > kLimit || t < -kLimit)
        return std::nullopt;
    return std::chrono::system_clock::from_time_t(t);
}

XXDateComponents XXDateExtension::dateComponentsFromDate(Date date)
{
    const std::tm fields = localFields(toTimeT(date));
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,    fields.tm_hour,
            fields.tm_min,         fields.tm_sec,     fields.tm_wday + 1};
}

std::string XXDateExtension::doubleTimeChangeToShowString(double secondsSince1970)
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return doubleTimeChangeToShowString(secondsSince1970, std::chrono::duration<double>(now).count());
}

std::string XXDateExtension::doubleTimeChangeToShowString(double secondsSince1970, double nowSecondsSince1970)
{
    std::time_t then;
    std::time_t now;
    if (!(secondsSince1970 > 0) || !toTimeT(secondsSince1970, then) || !toTimeT(nowSecondsSince1970, now)) {
        return "";
    }
    const std::tm a = localFields(then);
    const std::tm b = localFields(now);
    if (a.tm_year != b.tm_year)
        return formatFields(a, "yyyy-MM-dd HH:mm");
    if (a.tm_mon == b.tm_mon) {
        XXTool &tool = XXTool::shareTool();
        if (a.tm_mday == b.tm_mday)
            return tool.acquireLocalizedStringFromKey("String_152") + " " + formatFields(a, "HH:mm");
        if (a.tm_mday == b.tm_mday - 1)
            return tool.acquireLocalizedStringFromKey("String_153") + " " + formatFields(a, "HH:mm");
    }
    return formatFields(a, "MM-dd HH:mm");
}
