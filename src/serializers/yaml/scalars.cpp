#include "serializers/yaml/scalars.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/text/ascii.hpp"

namespace serializers::yaml_scalars {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_digit_or_underscore(char c) { return is_digit(c) || c == '_'; }
bool is_octal_or_underscore(char c) { return (c >= '0' && c <= '7') || c == '_'; }
bool is_binary_or_underscore(char c) { return c == '0' || c == '1' || c == '_'; }
bool is_hex_or_underscore(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '_';
}

template <typename Predicate>
bool all_of(std::string_view text, Predicate predicate) {
  for (char c : text) {
    if (!predicate(c)) return false;
  }
  return true;
}

std::string_view without_sign(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  return text;
}

// (":" [0-5]?[0-9])+ : every part after a colon is one digit or two digits below 60.
bool is_sexagesimal_tail(std::string_view tail) {
  if (tail.empty() || tail[0] != ':') return false;
  while (!tail.empty()) {
    if (tail[0] != ':') return false;
    tail.remove_prefix(1);
    std::size_t length = 0;
    while (length < tail.size() && is_digit(tail[length])) ++length;
    if (length == 0 || length > 2) return false;
    if (length == 2 && tail[0] > '5') return false;
    tail.remove_prefix(length);
  }
  return true;
}

// [0-9][0-9_]* at the start of `text`; the length matched (0 when none).
std::size_t leading_digit_run(std::string_view text) {
  if (text.empty() || !is_digit(text[0])) return 0;
  std::size_t length = 1;
  while (length < text.size() && is_digit_or_underscore(text[length])) ++length;
  return length;
}

bool is_exponent(std::string_view text) {
  return text.size() >= 3 && (text[0] == 'e' || text[0] == 'E') &&
         (text[1] == '-' || text[1] == '+') && all_of(text.substr(2), is_digit);
}

bool matches_int(std::string_view text) {
  const std::string_view rest = without_sign(text);
  if (rest.empty()) return false;
  if (rest.size() > 2 && rest.substr(0, 2) == "0b")
    return all_of(rest.substr(2), is_binary_or_underscore);
  if (rest.size() > 2 && rest.substr(0, 2) == "0x")
    return all_of(rest.substr(2), is_hex_or_underscore);
  if (rest[0] == '0') return all_of(rest.substr(1), is_octal_or_underscore);
  const std::size_t run = leading_digit_run(rest);
  if (run == 0) return false;
  return run == rest.size() || is_sexagesimal_tail(rest.substr(run));
}

bool matches_float(std::string_view text) {
  if (text == ".nan" || text == ".NaN" || text == ".NAN") return true;
  const std::string_view rest = without_sign(text);
  if (rest == ".inf" || rest == ".Inf" || rest == ".INF") return true;
  if (!rest.empty() && rest[0] == '.' && rest.size() == text.size()) {
    // "." [0-9][0-9_]* exponent? (this form takes no sign)
    const std::size_t run = leading_digit_run(rest.substr(1));
    if (run == 0) return false;
    const std::string_view after = rest.substr(1 + run);
    return after.empty() || is_exponent(after);
  }
  const std::size_t run = leading_digit_run(rest);
  if (run == 0) return false;
  const std::size_t dot = rest.find('.', run);
  if (dot == std::string_view::npos) return false;
  const std::string_view head = rest.substr(run, dot - run);
  if (!head.empty() && !is_sexagesimal_tail(head)) return false;
  std::string_view fraction = rest.substr(dot + 1);
  std::size_t length = 0;
  while (length < fraction.size() && is_digit_or_underscore(fraction[length])) ++length;
  fraction.remove_prefix(length);
  // The sexagesimal form takes no exponent.
  return fraction.empty() || (head.empty() && is_exponent(fraction));
}

struct TimestampParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool has_time = false, has_zone = false;
  int zone_hour = 0, zone_minute = 0;
};

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool at_end() const { return position_ == text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[position_]; }
  bool take(char c) {
    if (peek() != c) return false;
    ++position_;
    return true;
  }
  // Between `least` and `most` digits; -1 when fewer than `least`.
  int number(std::size_t least, std::size_t most) {
    int value = 0;
    std::size_t count = 0;
    while (count < most && is_digit(peek())) {
      value = value * 10 + (text_[position_++] - '0');
      ++count;
    }
    return count >= least ? value : -1;
  }
  // Any number of digits whose value does not matter (a fraction of a second, which may be
  // longer than any integer holds).
  void skip_digits() {
    while (is_digit(peek())) ++position_;
  }
  std::size_t position() const { return position_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

std::optional<TimestampParts> parse_timestamp(std::string_view text) {
  TimestampParts parts;
  Cursor cursor(text);
  parts.year = cursor.number(4, 4);
  if (parts.year < 0 || !cursor.take('-')) return std::nullopt;
  const std::size_t month_start = cursor.position();
  parts.month = cursor.number(1, 2);
  const bool two_digit_month = cursor.position() - month_start == 2;
  if (parts.month < 0 || !cursor.take('-')) return std::nullopt;
  const std::size_t day_start = cursor.position();
  parts.day = cursor.number(1, 2);
  if (parts.day < 0) return std::nullopt;
  if (cursor.at_end()) {
    // A date alone needs two-digit month and day.
    if (!two_digit_month || cursor.position() - day_start != 2) return std::nullopt;
    return parts;
  }
  if (!cursor.take('T') && !cursor.take('t')) {
    if (cursor.peek() != ' ' && cursor.peek() != '\t') return std::nullopt;
    while (cursor.take(' ') || cursor.take('\t')) {
    }
  }
  parts.has_time = true;
  parts.hour = cursor.number(1, 2);
  if (parts.hour < 0 || !cursor.take(':')) return std::nullopt;
  parts.minute = cursor.number(2, 2);
  if (parts.minute < 0 || !cursor.take(':')) return std::nullopt;
  parts.second = cursor.number(2, 2);
  if (parts.second < 0) return std::nullopt;
  if (cursor.take('.')) cursor.skip_digits();
  while (cursor.take(' ') || cursor.take('\t')) {
  }
  if (cursor.take('Z')) {
    parts.has_zone = true;
  } else if (cursor.peek() == '-' || cursor.peek() == '+') {
    cursor.take(cursor.peek());
    parts.has_zone = true;
    parts.zone_hour = cursor.number(1, 2);
    if (parts.zone_hour < 0) return std::nullopt;
    if (cursor.take(':')) {
      parts.zone_minute = cursor.number(2, 2);
      if (parts.zone_minute < 0) return std::nullopt;
    }
  }
  if (!cursor.at_end()) return std::nullopt;
  // Blanks after the seconds belong to a zone only.
  if (!parts.has_zone && (text.back() == ' ' || text.back() == '\t')) return std::nullopt;
  return parts;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : days[static_cast<std::size_t>(month - 1)];
}

// Magnitude of an unsigned digit string in `base`, or nothing on a bad digit, no digit or overflow.
std::optional<std::uint64_t> magnitude(std::string_view digits, unsigned base) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    unsigned digit = 0;
    if (is_digit(c))
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return std::nullopt;
    if (digit >= base) return std::nullopt;
    if (__builtin_mul_overflow(value, base, &value) ||
        __builtin_add_overflow(value, digit, &value)) {
      return std::nullopt;
    }
  }
  return value;
}

std::optional<double> plain_double(std::string_view text) {
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> split_colons(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
       colon = text.find(':', start)) {
    parts.push_back(text.substr(start, colon - start));
    start = colon + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

PlainKind classify_plain(std::string_view text) {
  if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL") {
    return PlainKind::NULL_VALUE;
  }
  static constexpr std::array<std::string_view, 18> booleans{
      "yes",   "Yes",   "YES",   "no", "No", "NO", "true", "True", "TRUE",
      "false", "False", "FALSE", "on", "On", "ON", "off",  "Off",  "OFF"};
  for (std::string_view word : booleans) {
    if (text == word) return PlainKind::BOOLEAN;
  }
  if (text == "<<") return PlainKind::MERGE;
  if (matches_float(text)) return PlainKind::FLOAT;
  if (matches_int(text)) return PlainKind::INTEGER;
  if (parse_timestamp(text)) return PlainKind::TIMESTAMP;
  return PlainKind::STRING;
}

std::optional<bool> construct_bool(std::string_view text) {
  const std::string lower = base::text::lower_case(text);
  if (lower == "yes" || lower == "true" || lower == "on") return true;
  if (lower == "no" || lower == "false" || lower == "off") return false;
  return std::nullopt;
}

std::optional<Document> construct_int(std::string_view text) {
  if (!matches_int(text)) return std::nullopt;
  std::string digits;
  for (char c : text) {
    if (c != '_') digits += c;
  }
  const bool negative = !digits.empty() && digits[0] == '-';
  std::string_view rest = without_sign(digits);
  std::optional<std::uint64_t> value;
  if (rest == "0")
    value = 0;
  else if (rest.substr(0, 2) == "0b")
    value = magnitude(rest.substr(2), 2);
  else if (rest.substr(0, 2) == "0x")
    value = magnitude(rest.substr(2), 16);
  else if (rest[0] == '0')
    value = magnitude(rest.substr(1), 8);
  else if (rest.find(':') != std::string_view::npos) {
    value = 0;
    for (std::string_view part : split_colons(rest)) {
      const auto digit = magnitude(part, 10);
      if (!digit || __builtin_mul_overflow(*value, 60u, &*value) ||
          __builtin_add_overflow(*value, *digit, &*value)) {
        return std::nullopt;
      }
    }
  } else {
    value = magnitude(rest, 10);
  }
  if (!value) return std::nullopt;
  constexpr auto largest_signed =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (negative) {
    if (*value > largest_signed + 1) return std::nullopt;
    if (*value == largest_signed + 1) return Document(std::numeric_limits<std::int64_t>::min());
    return Document(-static_cast<std::int64_t>(*value));
  }
  if (*value <= largest_signed) return Document(static_cast<std::int64_t>(*value));
  return Document(*value);
}

std::optional<double> construct_float(std::string_view text) {
  std::string cleaned;
  for (char c : text) {
    if (c != '_') cleaned += base::text::lower_case(c);
  }
  double sign = 1.0;
  std::string_view rest = cleaned;
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) {
    if (rest[0] == '-') sign = -1.0;
    rest.remove_prefix(1);
  }
  if (rest == ".inf") return sign * std::numeric_limits<double>::infinity();
  if (rest == ".nan") return std::numeric_limits<double>::quiet_NaN();
  if (rest.find(':') != std::string_view::npos) {
    const auto parts = split_colons(rest);
    double value = 0.0;
    double base = 1.0;
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
      const auto digit = plain_double(*part);
      if (!digit) return std::nullopt;
      value += *digit * base;
      base *= 60.0;
    }
    return sign * value;
  }
  // A sign after the one already taken is not a number.
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) return std::nullopt;
  const auto value = plain_double(rest);
  if (!value) return std::nullopt;
  return sign * *value;
}

bool is_valid_timestamp(std::string_view text) {
  const auto parts = parse_timestamp(text);
  if (!parts) return false;
  if (parts->year < 1 || parts->month < 1 || parts->month > 12) return false;
  if (parts->day < 1 || parts->day > days_in_month(parts->year, parts->month)) return false;
  if (!parts->has_time) return true;
  return parts->hour < 24 && parts->minute < 60 && parts->second < 60 && parts->zone_hour < 24 &&
         parts->zone_minute < 60;
}

std::string format_float(double value) {
  if (std::isnan(value)) return ".nan";
  if (std::isinf(value)) return value > 0 ? ".inf" : "-.inf";
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), result.ptr);
  // YAML 1.1 reads a number as a float only when it has a dot.
  if (text.find('.') == std::string::npos) {
    const std::size_t exponent = text.find('e');
    if (exponent == std::string::npos)
      text += ".0";
    else
      text.insert(exponent, ".0");
  }
  return text;
}

}  // namespace serializers::yaml_scalars
