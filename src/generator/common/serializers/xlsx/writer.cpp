#include <xlsxwriter.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <variant>

#include "base/files/atomic_file.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "base/text/utf8.hpp"

namespace generator::serializers {

namespace {

// Longest text a cell holds, in characters.
constexpr std::size_t MAX_CELL_CHARACTERS = 32'767;

// Integers beyond this lose digits as a spreadsheet number, so they are written as their digits.
constexpr std::int64_t LARGEST_EXACT_INTEGER = std::int64_t{1} << 53;

struct Empty {};

bool is_hex_digit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Spreadsheet programs read _xHHHH_ in a text as an escaped character. The library escapes control
// characters that way, but it takes texts as C strings and would cut one at a NUL, so NUL is
// escaped here (_x0000_), as the library escapes the other control characters; and a text that
// merely looks like an escape has its underscore escaped (_x005F_) to keep the text as it was.
std::string escaped_for_cell(const std::string& text) {
  if (text.find("_x") == std::string::npos && text.find('\0') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + 14);
  for (std::size_t position = 0; position < text.size(); ++position) {
    if (text[position] == '\0') {
      out += "_x0000_";
    } else if (position + 7 <= text.size() && text[position] == '_' && text[position + 1] == 'x' &&
               is_hex_digit(text[position + 2]) && is_hex_digit(text[position + 3]) &&
               is_hex_digit(text[position + 4]) && is_hex_digit(text[position + 5]) &&
               text[position + 6] == '_') {
      out += "_x005F_";
    } else {
      out += text[position];
    }
  }
  return out;
}
using Cell = std::variant<Empty, std::string, bool, double>;

// Where a cell sits, for messages: row 3, column 'vpc_id' (C).
std::string place(std::size_t sheet_row, std::size_t column, const std::string& header) {
  return "row " + std::to_string(sheet_row) + ", column '" + header + "' (" +
         column_name(column + 1) + ")";
}

void check_text(const std::string& text, const std::string& where) {
  const auto length = base::text::utf8_length(text);
  if (!length) throw ValueError("Cannot write the text at " + where + ": it is not valid UTF-8");
  if (*length > MAX_CELL_CHARACTERS) {
    throw ValueError("Cannot write the text at " + where + ": it has " + std::to_string(*length) +
                     " characters, a cell holds at most " + std::to_string(MAX_CELL_CHARACTERS));
  }
}

Cell cell_of(const Document& value, const std::string& where) {
  switch (value.type()) {
    case Document::value_t::null:
      return Empty{};
    case Document::value_t::boolean:
      return value.get<bool>();
    case Document::value_t::number_integer:
    case Document::value_t::number_unsigned: {
      const bool exact =
          value.is_number_integer()
              ? value.get<std::int64_t>() >= -LARGEST_EXACT_INTEGER &&
                    value.get<std::int64_t>() <= LARGEST_EXACT_INTEGER
              : value.get<std::uint64_t>() <= static_cast<std::uint64_t>(LARGEST_EXACT_INTEGER);
      if (exact) return value.get<double>();
      return to_text(value).get<std::string>();
    }
    case Document::value_t::number_float: {
      const double number = value.get<double>();
      if (!std::isfinite(number))
        throw ValueError("Cannot write the number at " + where + ": it is not finite");
      return number;
    }
    case Document::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      if (text.empty()) return Empty{};
      check_text(text, where);
      return escaped_for_cell(text);
    }
    default: {
      std::string text;
      try {
        text = to_text(value).get<std::string>();
      } catch (const TypeError& error) {
        throw TypeError("Cannot write the value at " + where + ": " + error.what());
      }
      check_text(text, where);
      return escaped_for_cell(text);
    }
  }
}

struct Table {
  std::vector<std::string> headers;
  std::vector<std::vector<Cell>> rows;
  std::size_t first_record_columns = 0;
};

// Everything is checked and converted before the file is touched.
Table prepare(const Document& data, const std::filesystem::path& path) {
  if (!data.is_array()) {
    throw TypeError(std::string("data must be a list of row records, not ") + kind_name(data));
  }
  if (data.empty())
    throw IndexError("Cannot write workbook '" + path.string() +
                     "' from an empty list of rows: data has no first record to take the columns "
                     "from");
  if (data.size() + 1 > MAX_SHEET_ROWS) {
    throw ValueError("Cannot write " + std::to_string(data.size()) +
                     " rows: a sheet holds at most " + std::to_string(MAX_SHEET_ROWS - 1) +
                     " below its header row");
  }
  Table table;
  std::unordered_map<std::string, std::size_t> column_of;
  for (std::size_t index = 0; index < data.size(); ++index) {
    const auto& record = data[index];
    if (!record.is_object()) {
      throw TypeError("Row " + std::to_string(index + 1) + " of data must be a mapping, not " +
                      kind_name(record));
    }
    for (const auto& [header, value] : record.items()) {
      if (column_of.emplace(header, table.headers.size()).second) {
        if (table.headers.size() == MAX_SHEET_COLUMNS) {
          throw ValueError("Cannot write more than " + std::to_string(MAX_SHEET_COLUMNS) +
                           " columns");
        }
        check_text(header, "the header of column " + column_name(table.headers.size() + 1));
        table.headers.push_back(escaped_for_cell(header));
      }
    }
  }
  table.first_record_columns = data.front().size();
  table.rows.reserve(data.size());
  for (std::size_t index = 0; index < data.size(); ++index) {
    std::vector<Cell> row(table.headers.size());
    for (const auto& [header, value] : data[index].items()) {
      const std::size_t column = column_of.at(header);
      row[column] = cell_of(value, place(index + 2, column, header));
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}

struct WorkbookFreer {
  void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};

void check(lxw_error error, const std::filesystem::path& path, const std::string& what) {
  if (error != LXW_NO_ERROR) {
    throw OSError("Cannot write workbook " + path.string() + " (" + what +
                  "): " + lxw_strerror(error));
  }
}

// The library reports a failed write of the file or of its own temporary files by its zip
// layer's codes ("Zip generic error ZIP_ERRNO"); the system's reason, a full disk say, is in errno.
void check_saved(lxw_error error, int error_number, const std::filesystem::path& path) {
  switch (error) {
    case LXW_ERROR_CREATING_XLSX_FILE:
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE:
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
      if (error_number != 0)
        throw OSError("Cannot write workbook " + path.string() + ": " +
                      std::strerror(error_number));
      break;
    default:
      break;
  }
  check(error, path, "saving");
}

void write_workbook(const Table& table, const std::filesystem::path& temporary,
                    const std::filesystem::path& target) {
  std::unique_ptr<lxw_workbook, WorkbookFreer> workbook(workbook_new(temporary.c_str()));
  if (!workbook) throw OSError("Cannot write workbook " + target.string());
  lxw_worksheet* sheet = workbook_add_worksheet(workbook.get(), nullptr);
  lxw_format* header_format = workbook_add_format(workbook.get());
  if (sheet == nullptr || header_format == nullptr)
    throw OSError("Cannot write workbook " + target.string());
  format_set_bold(header_format);
  format_set_align(header_format, LXW_ALIGN_CENTER);
  format_set_border(header_format, LXW_BORDER_THIN);

  const auto columns = static_cast<lxw_col_t>(table.headers.size());
  for (lxw_col_t column = 0; column < columns; ++column) {
    check(worksheet_write_string(sheet, 0, column, table.headers[column].c_str(), header_format),
          target, "header");
  }
  for (std::size_t index = 0; index < table.rows.size(); ++index) {
    const auto row = static_cast<lxw_row_t>(index + 1);
    for (lxw_col_t column = 0; column < columns; ++column) {
      const Cell& cell = table.rows[index][column];
      lxw_error error = LXW_NO_ERROR;
      // Texts always go in as strings, never as formulas, whatever they start with.
      if (const auto* text = std::get_if<std::string>(&cell))
        error = worksheet_write_string(sheet, row, column, text->c_str(), nullptr);
      else if (const auto* flag = std::get_if<bool>(&cell))
        error = worksheet_write_boolean(sheet, row, column, *flag, nullptr);
      else if (const auto* number = std::get_if<double>(&cell))
        error = worksheet_write_number(sheet, row, column, *number, nullptr);
      check(error, target, "cell " + column_name(column + 1) + std::to_string(row + 1));
    }
  }
  if (table.first_record_columns > 0) {
    check(worksheet_set_column(sheet, 0, static_cast<lxw_col_t>(table.first_record_columns - 1),
                               DEFAULT_COL_WIDTH, nullptr),
          target, "column widths");
  }
  worksheet_freeze_panes(sheet, 1, 0);
  if (columns > 0) {
    check(worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(table.rows.size()), columns - 1),
          target, "autofilter");
  }
  // workbook_close frees the workbook whatever it returns.
  errno = 0;
  const lxw_error saved = workbook_close(workbook.release());
  check_saved(saved, errno, target);
}

}  // namespace

void export_to_xlsx(const Document& data, const std::filesystem::path& path) {
  const Table table = prepare(data, path);
  base::files::replace_file_atomically(path, [&](const std::filesystem::path& temporary) {
    write_workbook(table, temporary, path);
  });
}

}  // namespace generator::serializers
