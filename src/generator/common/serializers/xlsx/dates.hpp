#pragma once

// Dates in workbooks: number formats that show a date, serial day numbers and ISO date cells.

#include <optional>
#include <string>
#include <string_view>

namespace generator::serializers::xlsx_detail {

/// Which day the serial number 0 stands for.
enum class DateSystem { FROM_1900, FROM_1904 };

/// Whether the built-in number format `format_id` shows a date or a time.
bool is_date_format_id(unsigned format_id);

/// Whether the custom number format `format_code` shows a date or a time (it uses day, month, year,
/// hour or second fields outside quoted text, escapes and colour brackets).
bool is_date_format_code(std::string_view format_code);

/// "YYYY-MM-DD HH:MM:SS[.fff]" of a serial day number, or nothing when it lies outside the years
/// a spreadsheet can show.
std::optional<std::string> serial_to_date_text(double serial, DateSystem system);

/// "YYYY-MM-DD HH:MM:SS[.fff]" of an ISO 8601 date cell ("2024-05-01", "2024-05-01T13:45:00Z"), or
/// nothing when the text is not such a date.
std::optional<std::string> iso_to_date_text(std::string_view iso);

/// Whether `text` has the form "YYYY-MM-DD" optionally followed by " HH:MM:SS" and a fraction.
bool is_date_text(std::string_view text);

}  // namespace generator::serializers::xlsx_detail
