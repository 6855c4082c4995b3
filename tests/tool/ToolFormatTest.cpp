// Size, time and date texts.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <tuple>

#include "ToolTestSupport.h"
#include "XXDateExtension.h"
#include "XXTool.h"

namespace {

// Seconds since 1970 of a local wall-clock time, so the relative-date cases hold in any zone.
double localSeconds(int year, int month, int day, int hour, int minute)
{
    std::tm fields{};
    std::tie(fields.tm_year, fields.tm_mon, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_isdst) =
        std::make_tuple(year - 1900, month - 1, day, hour, minute, -1);
    return static_cast<double>(std::mktime(&fields));
}

}  // namespace

TEST(ToolSizeText, UnitsAndPrecisionFollowTheSize)
{
    const std::pair<std::uint64_t, const char *> rows[] = {
        {0, "0 KB"},         {1, "1bytes"},        {1023, "1023bytes"},    {1024, "1.00KB"},
        {1536, "1.50KB"},    {10240, "10.0KB"},    {102400, "100KB"},      {1048575, "1024KB"},
        {1048576, "1.00MB"}, {52428800, "50.0MB"}, {1073741824, "1.00GB"}, {5ULL << 40, "5120GB"},
    };
    for (const auto &[bytes, text] : rows)
        EXPECT_EQ(XXTool::formattedFileSize(bytes), text) << bytes;
}

TEST(ToolTransfer, RemainingTimeUsesTheLastUsableSpeed)
{
    XXTool &tool = XXTool::shareTool();
    tool.transmitStartTime(1000.0);
    tool.transmitEndTime(1010.0, 100ULL << 20);  // 100 MiB in 10 s
    EXPECT_DOUBLE_EQ(tool.transmitSpend(), 10.0);
    const std::pair<std::uint64_t, const char *> rows[] = {
        {36000ULL << 20, "01:00:00"},
        {12345ULL << 20, "00:20:34"},
        {1ULL << 40, "29:07:37"},
        {(1ULL << 20) - 1, "00:00:00"},  // only whole MiB count
        {0, "00:00:00"},
    };
    for (const auto &[bytes, text] : rows)
        EXPECT_EQ(tool.timeNeedFromSize(bytes), text) << bytes;

    // No time elapsed, nothing done, the clock gone back: no speed, so the last one stays.
    tool.transmitEndTime(1000.0, 8ULL << 20);
    tool.transmitEndTime(1020.0, 0);
    tool.transmitEndTime(990.0, 8ULL << 20);
    EXPECT_DOUBLE_EQ(tool.transmitSpend(), 10.0);
}

TEST(ToolTimestamp, BrokenDownInUtcWithPadding)
{
    const std::pair<std::int64_t, const char *> rows[] = {
        {0, "1970-01-01 00:00:00"},         {1709629621, "2024-03-05 09:07:01"},
        {951782400, "2000-02-29 00:00:00"}, {1767225599, "2025-12-31 23:59:59"},
        {-1, "1969-12-31 23:59:59"},
    };
    for (const auto &[seconds, text] : rows)
        EXPECT_EQ(XXTool::changeTimeStringWith(seconds), text) << seconds;
}

TEST(ToolDates, PatternRoundTripsAndRejectsOtherText)
{
    XXTool &tool = XXTool::shareTool();
    const auto date = tool.stringToDate("2026-12-05 16:20:31");
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(tool.formattedDate(*date), "2026-12-05 16:20:31");
    EXPECT_TRUE(tool.stringToDate("2024-02-29 00:00:00").has_value());
    for (const char *text : {"", "notes", "2026-12-05 16:20:3", "2026-12-05 16:20:311", "2026-12-05T16:20:31",
                             "2026-13-05 10:00:00", "2026-00-05 10:00:00", "2026-02-29 10:00:00",
                             "2026-04-31 10:00:00", "2026-12-05 24:00:00", "2026-12-05 10:60:00",
                             "+026-12-05 16:20:31", " 2026-12-05 16:20:31", "9999-12-31 23:59:59"}) {
        EXPECT_FALSE(tool.stringToDate(text).has_value()) << text;
    }

    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    const auto now = tool.stringToDate(tool.currentDate());
    ASSERT_TRUE(now.has_value());
    EXPECT_GE(*now, before);
    EXPECT_LE(*now, std::chrono::system_clock::now());
}

TEST(ToolDates, CalendarHelpers)
{
    const auto date = XXDateExtension::dateFromSeconds(localSeconds(2024, 3, 5, 9, 7));
    const XXDateComponents parts = XXDateExtension::dateComponentsFromDate(date);
    // A Tuesday; 1 is Sunday.
    EXPECT_EQ(std::tie(parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.weekday),
              std::make_tuple(2024, 3, 5, 9, 7, 3));
    EXPECT_EQ(XXDateExtension::dateString(date, "dd.MM.yyyy, HH'mm"), "05.03.2024, 09'07");
    EXPECT_EQ(XXDateExtension::date("05.03.2024 09:07", "dd.MM.yyyy HH:mm"), date);
}

TEST(ToolRelativeDate, WordsForTodayAndYesterdayOtherwiseDigits)
{
    tooltest::ScopedLanguage english("en");
    const double now = localSeconds(2026, 3, 15, 12, 0);
    const std::tuple<double, double, const char *> rows[] = {
        {localSeconds(2026, 3, 15, 8, 5), now, "Today 08:05"},
        {localSeconds(2026, 3, 15, 23, 59), now, "Today 23:59"},
        {localSeconds(2026, 3, 14, 23, 59), now, "Yesterday 23:59"},
        {localSeconds(2026, 3, 13, 8, 5), now, "03-13 08:05"},
        {localSeconds(2026, 1, 2, 7, 30), now, "01-02 07:30"},
        {localSeconds(2025, 3, 15, 8, 5), now, "2025-03-15 08:05"},
        // The last day of the previous month or year is not yesterday.
        {localSeconds(2026, 2, 28, 22, 15), localSeconds(2026, 3, 1, 10, 0), "02-28 22:15"},
        {localSeconds(2025, 12, 31, 23, 0), localSeconds(2026, 1, 1, 10, 0), "2025-12-31 23:00"},
        // Nothing for zero, negative or unusable seconds.
        {0, now, ""},
        {-5, now, ""},
        {std::nan(""), now, ""},
        {1e300, now, ""},
    };
    for (const auto &[then, reference, text] : rows) {
        EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(then, reference), text) << then;
    }
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(0), "");

    tooltest::ScopedLanguage chinese("zh-Hans");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(localSeconds(2026, 3, 15, 8, 5), now),
              "今天 08:05");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(localSeconds(2026, 3, 14, 8, 5), now),
              "昨天 08:05");
}
