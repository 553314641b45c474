#include "serializers/xlsx/dates.hpp"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "base/text/ascii.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace serializers::xlsx_detail {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), and back.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

void civil_from_days(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned month_index = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * month_index + 2) / 5 + 1;
  month = month_index < 10 ? month_index + 3 : month_index - 9;
  year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
}

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

unsigned number_of(std::string_view digits) {
  unsigned value = 0;
  for (const char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  return value;
}

bool valid_day(unsigned year, unsigned month, unsigned day) {
  static constexpr unsigned DAYS_IN_MONTH[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= DAYS_IN_MONTH[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool valid_date_part(std::string_view text) {
  return text.size() == 10 && all_digits(text.substr(0, 4)) && text[4] == '-' &&
         all_digits(text.substr(5, 2)) && text[7] == '-' && all_digits(text.substr(8, 2)) &&
         valid_day(number_of(text.substr(0, 4)), number_of(text.substr(5, 2)),
                   number_of(text.substr(8, 2)));
}

// "HH:MM:SS" with an optional fraction of digits.
bool valid_time_part(std::string_view text) {
  if (text.size() < 8 || !all_digits(text.substr(0, 2)) || text[2] != ':' ||
      !all_digits(text.substr(3, 2)) || text[5] != ':' || !all_digits(text.substr(6, 2))) {
    return false;
  }
  if (number_of(text.substr(0, 2)) > 23 || number_of(text.substr(3, 2)) > 59 ||
      number_of(text.substr(6, 2)) > 60) {
    return false;
  }
  if (text.size() == 8) return true;
  return text[8] == '.' && all_digits(text.substr(9));
}

// Serial day numbers a spreadsheet shows as dates: 0001-01-01 is out of reach, 9999-12-31 the last.
constexpr double LAST_SERIAL_1900 = 2958466;
constexpr double LAST_SERIAL_1904 = LAST_SERIAL_1900 - 1462;
// Spreadsheets keep times to the millisecond; finer digits are rounding noise of the serial.
constexpr std::int64_t MILLISECONDS_PER_DAY = 86'400'000;

}  // namespace

NumberShown shown_by_format_id(unsigned format_id) {
  // 18 to 21 are h:mm AM/PM, h:mm:ss AM/PM, h:mm and h:mm:ss; 45 and 47 mm:ss and mmss.0.
  if ((format_id >= 18 && format_id <= 21) || format_id == 45 || format_id == 47)
    return NumberShown::time_of_day;
  if ((format_id >= 14 && format_id <= 22) || (format_id >= 27 && format_id <= 36) ||
      (format_id >= 45 && format_id <= 47) || (format_id >= 50 && format_id <= 58))
    return NumberShown::date;
  return NumberShown::number;
}

NumberShown shown_by_format_code(std::string_view format_code) {
  bool quoted = false;
  bool day_or_year = false;
  bool hour_or_second = false;
  bool month_or_minute = false;
  for (std::size_t i = 0; i < format_code.size(); ++i) {
    const char c = format_code[i];
    if (quoted) {
      quoted = c != '"';
      continue;
    }
    if (c == ';') break;  // only the first section decides
    switch (c) {
      case '"':
        quoted = true;
        continue;
      case '\\':
      case '_':
      case '*':
        ++i;
        continue;  // the next character is shown or used as padding, not a field
      case '[': {
        // [Red], [$-409] are decoration; [h], [mm], [ss] are elapsed-time fields.
        const auto close = format_code.find(']', i);
        if (close == std::string_view::npos) return NumberShown::number;
        const auto inside = format_code.substr(i + 1, close - i - 1);
        if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos)
          return NumberShown::date;
        i = close;
        continue;
      }
      default:
        break;
    }
    switch (base::text::lower_case(c)) {
      case 'd':
      case 'y':
        day_or_year = true;
        break;
      case 'h':
      case 's':
        hour_or_second = true;
        break;
      case 'm':
        month_or_minute = true;
        break;
      default:
        break;
    }
  }
  // Beside hours or seconds, "m" is the minutes; alone it is the month.
  if (day_or_year) return NumberShown::date;
  if (hour_or_second) return NumberShown::time_of_day;
  return month_or_minute ? NumberShown::date : NumberShown::number;
}

std::optional<std::string> serial_to_date_text(double serial, DateSystem system) {
  const double last = system == DateSystem::FROM_1900 ? LAST_SERIAL_1900 : LAST_SERIAL_1904;
  if (!(serial >= 0 && serial < last)) return std::nullopt;
  std::int64_t epoch =
      system == DateSystem::FROM_1900 ? days_from_civil(1899, 12, 30) : days_from_civil(1904, 1, 1);
  // The 1900 system counts a 29 February 1900 that never was: days before it sit one later.
  if (system == DateSystem::FROM_1900 && serial >= 1 && serial < 60) epoch += 1;
  const auto milliseconds = std::llround(serial * static_cast<double>(MILLISECONDS_PER_DAY));
  const std::int64_t days = milliseconds / MILLISECONDS_PER_DAY;
  std::int64_t rest = milliseconds % MILLISECONDS_PER_DAY;
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civil_from_days(epoch + days, year, month, day);
  const auto milli = static_cast<unsigned>(rest % 1000);
  rest /= 1000;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02u:%02u:%02u",
                static_cast<long long>(year), month, day, static_cast<unsigned>(rest / 3600),
                static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60));
  std::string text(buffer);
  if (milli != 0) {
    std::snprintf(buffer, sizeof buffer, ".%03u", milli);
    std::string fraction(buffer);
    while (fraction.back() == '0') fraction.pop_back();
    text += fraction;
  }
  return text;
}

std::optional<std::string> iso_to_date_text(std::string_view iso) {
  if (!iso.empty() && (iso.back() == 'Z' || iso.back() == 'z')) iso.remove_suffix(1);
  if (iso.size() < 10 || !valid_date_part(iso.substr(0, 10))) return std::nullopt;
  std::string text(iso.substr(0, 10));
  if (iso.size() == 10) return text + " 00:00:00";
  if (iso[10] != 'T' && iso[10] != 't' && iso[10] != ' ') return std::nullopt;
  const auto time = iso.substr(11);
  if (valid_time_part(time)) return text + " " + std::string(time);
  // A time without seconds ("13:45").
  if (time.size() == 5 && valid_time_part(std::string(time) + ":00"))
    return text + " " + std::string(time) + ":00";
  return std::nullopt;
}

std::optional<std::string> iso_to_time_text(std::string_view iso) {
  if (!iso.empty() && (iso.back() == 'Z' || iso.back() == 'z')) iso.remove_suffix(1);
  if (!iso.empty() && (iso.front() == 'T' || iso.front() == 't')) iso.remove_prefix(1);
  if (valid_time_part(iso)) return std::string(iso);
  // A time without seconds ("10:10").
  if (iso.size() == 5 && valid_time_part(std::string(iso) + ":00"))
    return std::string(iso) + ":00";
  return std::nullopt;
}

bool is_date_text(std::string_view text) {
  if (valid_time_part(text)) return true;
  if (text.size() < 10 || !valid_date_part(text.substr(0, 10))) return false;
  return text.size() == 10 || (text[10] == ' ' && valid_time_part(text.substr(11)));
}

}  // namespace serializers::xlsx_detail
