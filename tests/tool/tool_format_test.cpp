// Size, time and date texts.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "ToolTestSupport.h"
#include "XXDateExtension.h"
#include "XXTool.h"

namespace {

// Seconds since 1970 of a local wall-clock time, so the relative-date cases hold in any zone.
double localSeconds(int year, int month, int day, int hour, int minute) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    return static_cast<double>(std::mktime(&fields));
}

}  // namespace

TEST(ToolSizeText, UnitsAndPrecisionFollowTheSize) {
    EXPECT_EQ(XXTool::formattedFileSize(0), "0 KB");
    EXPECT_EQ(XXTool::formattedFileSize(1), "1bytes");
    EXPECT_EQ(XXTool::formattedFileSize(1023), "1023bytes");
    EXPECT_EQ(XXTool::formattedFileSize(1024), "1.00KB");
    EXPECT_EQ(XXTool::formattedFileSize(1536), "1.50KB");
    EXPECT_EQ(XXTool::formattedFileSize(10240), "10.0KB");
    EXPECT_EQ(XXTool::formattedFileSize(102400), "100KB");
    EXPECT_EQ(XXTool::formattedFileSize(1048575), "1024KB");
    EXPECT_EQ(XXTool::formattedFileSize(1048576), "1.00MB");
    EXPECT_EQ(XXTool::formattedFileSize(52428800), "50.0MB");
    EXPECT_EQ(XXTool::formattedFileSize(1073741824), "1.00GB");
    EXPECT_EQ(XXTool::formattedFileSize(5ULL << 40), "5120GB");
}

TEST(ToolTransfer, RemainingTimeUsesTheMeasuredSpeed) {
    XXTool& tool = XXTool::shareTool();
    tool.transmitStartTime(1000.0);
    tool.transmitEndTime(1010.0, 100ULL << 20);  // 100 MiB in 10 s
    EXPECT_DOUBLE_EQ(tool.transmitSpand(), 10.0);
    EXPECT_EQ(tool.timeNeedFromSize(36000ULL << 20), "01:00:00");
    EXPECT_EQ(tool.timeNeedFromSize(12345ULL << 20), "00:20:34");
    EXPECT_EQ(tool.timeNeedFromSize(1ULL << 40), "29:07:37");
    // Only whole MiB count.
    EXPECT_EQ(tool.timeNeedFromSize((1ULL << 20) - 1), "00:00:00");
    EXPECT_EQ(tool.timeNeedFromSize(0), "00:00:00");
}

TEST(ToolTransfer, MeasurementWithoutElapsedTimeOrProgressKeepsTheLastSpeed) {
    XXTool& tool = XXTool::shareTool();
    tool.transmitStartTime(2000.0);
    tool.transmitEndTime(2004.0, 8ULL << 20);
    ASSERT_DOUBLE_EQ(tool.transmitSpand(), 2.0);
    tool.transmitEndTime(2000.0, 8ULL << 20);  // no time elapsed
    tool.transmitEndTime(2010.0, 0);           // nothing done
    tool.transmitEndTime(1990.0, 8ULL << 20);  // clock went back
    EXPECT_DOUBLE_EQ(tool.transmitSpand(), 2.0);
    EXPECT_EQ(tool.timeNeedFromSize(7200ULL << 20), "01:00:00");
}

TEST(ToolTimestamp, BrokenDownInUtcWithPadding) {
    EXPECT_EQ(XXTool::changeTimeStringWith(0), "1970-01-01 00:00:00");
    EXPECT_EQ(XXTool::changeTimeStringWith(1709629621), "2024-03-05 09:07:01");
    EXPECT_EQ(XXTool::changeTimeStringWith(951782400), "2000-02-29 00:00:00");
    EXPECT_EQ(XXTool::changeTimeStringWith(1767225599), "2025-12-31 23:59:59");
    EXPECT_EQ(XXTool::changeTimeStringWith(-1), "1969-12-31 23:59:59");
}

TEST(ToolDates, PatternRoundTripsAndRejectsOtherText) {
    XXTool& tool = XXTool::shareTool();
    const auto date = tool.stringToDate("2026-12-05 16:20:31");
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(tool.formattedDate(*date), "2026-12-05 16:20:31");
    EXPECT_TRUE(tool.stringToDate("2024-02-29 00:00:00").has_value());
    for (const char* text : {"", "notes", "2026-12-05 16:20:3", "2026-12-05 16:20:311", "2026-12-05T16:20:31",
                             "2026-13-05 10:00:00", "2026-00-05 10:00:00", "2026-02-29 10:00:00",
                             "2026-04-31 10:00:00", "2026-12-05 24:00:00", "2026-12-05 10:60:00",
                             "+026-12-05 16:20:31", " 2026-12-05 16:20:31", "9999-12-31 23:59:59"}) {
        EXPECT_FALSE(tool.stringToDate(text).has_value()) << text;
    }
}

TEST(ToolDates, CurrentDateIsNowInThatPattern) {
    XXTool& tool = XXTool::shareTool();
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    const auto parsed = tool.stringToDate(tool.currentDate());
    const auto after = std::chrono::system_clock::now();
    ASSERT_TRUE(parsed.has_value());
    EXPECT_GE(*parsed, before);
    EXPECT_LE(*parsed, after);
}

TEST(ToolDates, CalendarHelpers) {
    const auto date = XXDateExtension::dateFromSeconds(localSeconds(2024, 3, 5, 9, 7));
    const XXDateComponents parts = XXDateExtension::dateComponentsFromDate(date);
    EXPECT_EQ(parts.year, 2024);
    EXPECT_EQ(parts.month, 3);
    EXPECT_EQ(parts.day, 5);
    EXPECT_EQ(parts.hour, 9);
    EXPECT_EQ(parts.minute, 7);
    EXPECT_EQ(parts.weekday, 3);  // a Tuesday; 1 is Sunday
    EXPECT_EQ(XXDateExtension::dateString(date, "dd.MM.yyyy, HH'mm"), "05.03.2024, 09'07");
    const auto parsed = XXDateExtension::date("05.03.2024 09:07", "dd.MM.yyyy HH:mm");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, date);
}

TEST(ToolRelativeDate, WordsForTodayAndYesterdayOtherwiseDigits) {
    tooltest::ScopedLanguage english("en");
    const double now = localSeconds(2026, 3, 15, 12, 0);
    const auto show = [&](double when) { return XXDateExtension::doubleTimeChangeToShowString(when, now); };
    EXPECT_EQ(show(localSeconds(2026, 3, 15, 8, 5)), "Today 08:05");
    EXPECT_EQ(show(localSeconds(2026, 3, 15, 23, 59)), "Today 23:59");
    EXPECT_EQ(show(localSeconds(2026, 3, 14, 23, 59)), "Yesterday 23:59");
    EXPECT_EQ(show(localSeconds(2026, 3, 13, 8, 5)), "03-13 08:05");
    EXPECT_EQ(show(localSeconds(2026, 1, 2, 7, 30)), "01-02 07:30");
    EXPECT_EQ(show(localSeconds(2025, 3, 15, 8, 5)), "2025-03-15 08:05");

    tooltest::ScopedLanguage chinese("zh-Hans");
    EXPECT_EQ(show(localSeconds(2026, 3, 15, 8, 5)), "今天 08:05");
    EXPECT_EQ(show(localSeconds(2026, 3, 14, 8, 5)), "昨天 08:05");
}

TEST(ToolRelativeDate, MonthAndYearBoundariesAreNotYesterday) {
    tooltest::ScopedLanguage english("en");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(localSeconds(2026, 2, 28, 22, 15),
                                                           localSeconds(2026, 3, 1, 10, 0)),
              "02-28 22:15");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(localSeconds(2025, 12, 31, 23, 0),
                                                           localSeconds(2026, 1, 1, 10, 0)),
              "2025-12-31 23:00");
}

TEST(ToolRelativeDate, NoTextForZeroNegativeOrUnusableSeconds) {
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(0), "");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(-5), "");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(std::nan("")), "");
    EXPECT_EQ(XXDateExtension::doubleTimeChangeToShowString(1e300), "");
}
