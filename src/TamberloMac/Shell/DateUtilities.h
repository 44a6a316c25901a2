// Calendar parts of a date and conversions between dates and text with a date format
// ("yyyyMMddHHmmss", "yyyy-MM-dd", ...), in the local time zone.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tamberlo {

using Date = std::chrono::system_clock::time_point;

// The calendar year, month (1...12) and day of the month of a date, in local time.
int year(Date date);
int month(Date date);
int day(Date date);

// The date a text denotes in the given format; none when it does not parse.
std::optional<Date> dateFromString(const std::string& text, const std::string& format);
// The date written in the given format.
std::string stringFromDate(Date date, const std::string& format);

}  // namespace tamberlo
