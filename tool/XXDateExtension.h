// Calendar helpers in the local time zone and the relative date text of file lists.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

struct XXDateComponents {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;  // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;  // 1 Sunday to 7 Saturday
};

struct XXDateExtension {
    using Date = std::chrono::system_clock::time_point;

    // "" for zero or negative seconds; otherwise, against today in the local time zone:
    // another year "yyyy-MM-dd HH:mm", today "<Today> HH:mm", the previous day of the same
    // month "<Yesterday> HH:mm", anything else "MM-dd HH:mm". The words come from the text
    // tables in the current language.
    static std::string doubleTimeChangeToShowString(double secondsSince1970);
    // The same against a given "now", so the rule can be checked at any date.
    static std::string doubleTimeChangeToShowString(double secondsSince1970, double nowSecondsSince1970);

    // Patterns use the fields yyyy, MM, dd, HH, mm and ss (fixed width, zero-padded); any other
    // character stands for itself.
    static std::string dateString(Date date, std::string_view format);
    // Parses exactly the given pattern, rejecting impossible dates such as "2026-02-30";
    // nullopt when the text does not match.
    static std::optional<Date> date(std::string_view text, std::string_view format);

    static XXDateComponents dateComponentsFromDate(Date date);
    static int year(Date date) { return dateComponentsFromDate(date).year; }
    static int month(Date date) { return dateComponentsFromDate(date).month; }
    static int day(Date date) { return dateComponentsFromDate(date).day; }
    static int weekday(Date date) { return dateComponentsFromDate(date).weekday; }
    static int hour(Date date) { return dateComponentsFromDate(date).hour; }
    static int minute(Date date) { return dateComponentsFromDate(date).minute; }
    static int second(Date date) { return dateComponentsFromDate(date).second; }

    // Clamped to about ±8000 years around 1970; not-a-number gives 1970-01-01 00:00:00 UTC.
    static Date dateFromSeconds(double secondsSince1970);
};
