#include "serializers/xlsx/xlsx.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "generator/log/log.hpp"
#include "serializers/export/export.hpp"
#include "serializers/load/load.hpp"
#include "serializers/xlsx/archive.hpp"
#include "serializers/xlsx/dates.hpp"
#include "serializers/xlsx/reader.hpp"
#include "serializers/xlsx/table.hpp"

namespace serializers {

namespace {

namespace log = generator::log;

std::string number_text(double number) {
  if (std::trunc(number) == number && std::isfinite(number)) {
    constexpr double INTEGER_LIMIT = 9'223'372'036'854'775'808.0;  // 2^63
    if (number >= -INTEGER_LIMIT && number < INTEGER_LIMIT)
      return std::to_string(static_cast<std::int64_t>(number));
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", number);
    return buffer;
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, result.ptr);
}

// The text form of a value inside a list: texts in single quotes.
std::string element_text(const Document& value) {
  if (value.is_string()) {
    return std::string(1, '\'').append(value.get_ref<const std::string&>()).append(1, '\'');
  }
  if (value.is_null()) return "None";
  return to_text(value).get<std::string>();
}

}  // namespace

Document to_text(const Document& value) {
  switch (value.type()) {
    case Document::value_t::string:
      return value;
    case Document::value_t::boolean:
      return value.get<bool>() ? "True" : "False";
    case Document::value_t::number_integer:
      return std::to_string(value.get<std::int64_t>());
    case Document::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case Document::value_t::number_float:
      return number_text(value.get<double>());
    case Document::value_t::null:
      return "";
    case Document::value_t::binary:
      if (is_date(value)) return date_text(value);
      break;
    case Document::value_t::array: {
      std::string text = "[";
      for (const auto& element : value)
        text += (text.size() > 1 ? ", " : "") + element_text(element);
      return text + "]";
    }
    case Document::value_t::object: {
      std::string text = "{";
      for (const auto& [key, element] : value.items()) {
        text += (text.size() > 1 ? ", '" : "'") + key + "': " + element_text(element);
      }
      return text + "}";
    }
    default:
      break;
  }
  throw TypeError(std::string("cannot convert ") + kind_name(value) + " to text");
}

std::string column_name(std::size_t column_number) {
  std::string name;
  while (column_number > 0) {
    const std::size_t rest = (column_number - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rest));
    column_number = (column_number - 1) / 26;
  }
  return name;
}

Document make_date(std::string_view text) {
  if (!xlsx_detail::is_date_text(text))
    throw ValueError("\"" + std::string(text) + "\" is not a date or timestamp");
  return Document::binary(std::vector<std::uint8_t>(text.begin(), text.end()), DATE_SUBTYPE);
}

bool is_date(const Document& node) {
  return node.is_binary() && node.get_binary().has_subtype() &&
         node.get_binary().subtype() == DATE_SUBTYPE;
}

std::string date_text(const Document& node) {
  if (!is_date(node))
    throw TypeError(std::string("expected a date or timestamp, got ") + kind_name(node));
  const auto& bytes = node.get_binary();
  return std::string(bytes.begin(), bytes.end());
}

Document load_from_xlsx(const std::filesystem::path& path, const Converters& converters) {
  auto& log = log::get_logger("generator.common.serializers.xlsx");
  const auto sheet = xlsx_detail::read_first_sheet(path);
  Document records = xlsx_detail::build_table(sheet, converters, path);
  if (log.is_enabled_for(log::DEBUG))
    log.debug("Loaded dataframe from excel:\n{}", xlsx_detail::render_table(records));
  return records;
}

Document load_from_xlsx(const std::filesystem::path& path) {
  return load_from_xlsx(path, Converters{});
}

namespace {

// Hands the rows on and, at debug level, keeps a line of each as read for the one message that
// shows the sheet.
class LoggedRows : public SheetRows {
 public:
  explicit LoggedRows(SheetRows& rows)
      : rows_(rows), logging_(log::get_logger("generator.common.serializers.xlsx")
                                  .is_enabled_for(log::DEBUG)) {}

  void sheet(std::string_view name) override { rows_.sheet(name); }

  void row(std::uint32_t row_number, std::vector<SheetCell>& cells) override {
    if (logging_) {
      std::vector<std::string> texts;
      for (const SheetCell& cell : cells) {
        texts.resize(cell.column - 1);
        texts.push_back(cell.error ? *cell.error : to_text(cell.value).get<std::string>());
      }
      rendering_ += (rendering_.empty() ? "" : "\n") + std::to_string(row_number) + ": " +
                    xlsx_detail::rendered_line(texts);
    }
    rows_.row(row_number, cells);
  }

  [[nodiscard]] const std::string& rendering() const noexcept { return rendering_; }

 private:
  SheetRows& rows_;
  bool logging_;
  std::string rendering_;
};

// Named as the loader is, since its debug message is the loader's own.
void load_from_xlsx(const xlsx_detail::Archive& archive, SheetRows& rows) {
  LoggedRows logged(rows);
  xlsx_detail::read_first_sheet(archive, logged);
  log::get_logger("generator.common.serializers.xlsx")
      .debug("Loaded dataframe from excel:\n{}", logged.rendering());
}

}  // namespace

void load_from_xlsx(const std::filesystem::path& path, SheetRows& rows) {
  load_from_xlsx(xlsx_detail::Archive(path), rows);
}

void load_from_xlsx_bytes(std::string_view workbook, const std::filesystem::path& name,
                          SheetRows& rows) {
  load_from_xlsx(xlsx_detail::Archive(workbook, name), rows);
}

void register_xlsx_serializers() {
  register_loader(FileExtensions(XLSX_EXTS))(static_cast<Loader>(&load_from_xlsx));
  register_exporter(FileExtensions(XLSX_EXTS), ExportedData::rows)(&export_to_xlsx);
}

}  // namespace serializers
