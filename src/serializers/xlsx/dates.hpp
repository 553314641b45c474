#pragma once

// Dates in workbooks: number formats that show a date or a time of day, serial day numbers and
// ISO date and time cells.

#include <optional>
#include <string>
#include <string_view>

namespace serializers::xlsx_detail {

/// Which day the serial number 0 stands for.
enum class DateSystem { FROM_1900, FROM_1904 };

/// What a number format makes of a cell's number.
enum class NumberShown {
  /// The number itself.
  number,
  /// A date, or a date and time (also elapsed times such as [h]:mm, as a spreadsheet keeps them).
  date,
  /// The time of day alone: the format has hour, minute or second fields and no day or year.
  time_of_day,
};

/// What the built-in number format `format_id` shows.
NumberShown shown_by_format_id(unsigned format_id);

/// What the custom number format `format_code` shows, by the fields it uses outside quoted text,
/// escapes and colour brackets (the first section decides).
NumberShown shown_by_format_code(std::string_view format_code);

/// "YYYY-MM-DD HH:MM:SS[.fff]" of a serial day number, or nothing when it lies outside the years
/// a spreadsheet can show.
std::optional<std::string> serial_to_date_text(double serial, DateSystem system);

/// "YYYY-MM-DD HH:MM:SS[.fff]" of an ISO 8601 date cell ("2024-05-01", "2024-05-01T13:45:00Z"), or
/// nothing when the text is not such a date.
std::optional<std::string> iso_to_date_text(std::string_view iso);

/// "HH:MM:SS[.fff]" of an ISO 8601 time of day alone ("10:10:10", "T10:10", "10:10:10.5Z"), or
/// nothing when the text is not such a time.
std::optional<std::string> iso_to_time_text(std::string_view iso);

/// Whether `text` has the form "YYYY-MM-DD" optionally followed by " HH:MM:SS" and a fraction, or
/// is a time of day alone, "HH:MM:SS" with an optional fraction.
bool is_date_text(std::string_view text);

}  // namespace serializers::xlsx_detail
