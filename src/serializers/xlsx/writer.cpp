#include <xlsxwriter.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/files/atomic_file.hpp"
#include "base/text/utf8.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace serializers {

namespace {

// Longest text a cell holds, in characters.
constexpr std::size_t MAX_CELL_CHARACTERS = 32'767;

// Integers beyond this lose digits as a spreadsheet number, so they are written as their digits.
constexpr std::int64_t LARGEST_EXACT_INTEGER = std::int64_t{1} << 53;

struct Empty {};

bool is_hex_digit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A text as it goes into a cell: one run, or several where a run boundary has to keep part of it
// from being read as an escape.
struct CellText {
  std::vector<std::string> runs;
};

// Whether `text` holds "_xHHHH_" at `position`.
bool looks_like_escape(const std::string& text, std::size_t position) {
  return position + 7 <= text.size() && text[position] == '_' && text[position + 1] == 'x' &&
         is_hex_digit(text[position + 2]) && is_hex_digit(text[position + 3]) &&
         is_hex_digit(text[position + 4]) && is_hex_digit(text[position + 5]) &&
         text[position + 6] == '_';
}

// Spreadsheet programs read _xHHHH_ in a text as an escaped character. The library escapes control
// characters that way, but it takes texts as C strings and would cut one at a NUL, so NUL is
// escaped here (_x0000_), as the library escapes the other control characters. A text that merely
// looks like an escape is cut into runs before each such look-alike's last underscore: no reader
// takes an escape across runs, and every reader joins the runs into the text as it was (an escaped
// underscore, _x005F_, would do for the shared strings, but not every reader undoes it in the
// inline texts that rows written as they come must use).
CellText text_for_cell(const std::string& text) {
  CellText cell{{std::string()}};
  if (text.find("_x") == std::string::npos && text.find('\0') == std::string::npos) {
    cell.runs.front() = text;
    return cell;
  }
  for (std::size_t position = 0; position < text.size(); ++position) {
    if (text[position] == '\0') {
      cell.runs.back() += "_x0000_";
      continue;
    }
    if (looks_like_escape(text, position)) {
      cell.runs.back() += text.substr(position, 6);
      cell.runs.emplace_back();
      position += 5;
      continue;
    }
    cell.runs.back() += text[position];
  }
  return cell;
}

using Cell = std::variant<Empty, CellText, bool, double>;

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
      return text_for_cell(to_text(value).get<std::string>());
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
      return text_for_cell(text);
    }
    default: {
      std::string text;
      try {
        text = to_text(value).get<std::string>();
      } catch (const TypeError& error) {
        throw TypeError("Cannot write the value at " + where + ": " + error.what());
      }
      check_text(text, where);
      return text_for_cell(text);
    }
  }
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

// The one writer of workbooks: the header row, then each row as it comes, held only while it is
// written (the library's constant-memory mode, which writes every text inline in its cell), into
// a temporary file that replaces the target when the table is complete.
class SheetWriter : public ListExport {
 public:
  // `headers` may be left empty to take the first record's keys; `widened_columns` of the first
  // columns get DEFAULT_COL_WIDTH, all of the first record's when it is nothing.
  SheetWriter(const std::filesystem::path& target, std::vector<std::string> headers,
              std::optional<std::size_t> widened_columns)
      : target_(target),
        replacement_(target),
        tmpdir_(replacement_.temporary().parent_path().string()),
        headers_(std::move(headers)),
        widened_columns_(widened_columns) {
    if (!headers_.empty()) open();
  }

  void append(const Document& record) override {
    const std::size_t index = rows_ + 1;
    if (!record.is_object())
      throw TypeError("Row " + std::to_string(index) + " of data must be a mapping, not " +
                      kind_name(record));
    if (!workbook_) {
      for (const auto& [header, value] : record.items()) headers_.push_back(header);
      open();
    }
    if (rows_ + 1 >= MAX_SHEET_ROWS)
      throw ValueError("Cannot write more than " + std::to_string(MAX_SHEET_ROWS - 1) +
                       " rows: a sheet holds at most " + std::to_string(MAX_SHEET_ROWS - 1) +
                       " below its header row");
    if (!widened_columns_) widened_columns_ = record.size();
    const auto row = static_cast<lxw_row_t>(index);
    // Cells go in column order, as the library writes a row's cells in the order given.
    cells_.assign(headers_.size(), Empty{});
    for (const auto& [header, value] : record.items()) {
      const auto found = column_of_.find(header);
      if (found == column_of_.end())
        throw ValueError("Cannot write row " + std::to_string(index + 1) + ": its column '" +
                         header + "' is not among the columns of the header row");
      cells_[found->second] = cell_of(value, place(index + 1, found->second, header));
    }
    for (std::size_t column = 0; column < cells_.size(); ++column) {
      const auto sheet_column = static_cast<lxw_col_t>(column);
      lxw_error error = LXW_NO_ERROR;
      if (const auto* text = std::get_if<CellText>(&cells_[column]))
        error = write_text(row, sheet_column, *text, nullptr);
      else if (const auto* flag = std::get_if<bool>(&cells_[column]))
        error = worksheet_write_boolean(sheet_, row, sheet_column, *flag, nullptr);
      else if (const auto* number = std::get_if<double>(&cells_[column]))
        error = worksheet_write_number(sheet_, row, sheet_column, *number, nullptr);
      check(error, target_, "cell " + column_name(column + 1) + std::to_string(row + 1));
    }
    ++rows_;
  }

  void finish() override {
    if (rows_ == 0)
      throw IndexError("Cannot write workbook '" + target_.string() +
                       "' from an empty list of rows: data has no first record to take the "
                       "columns from");
    const auto columns = static_cast<lxw_col_t>(headers_.size());
    if (widened_columns_ && *widened_columns_ > 0) {
      check(worksheet_set_column(sheet_, 0, static_cast<lxw_col_t>(*widened_columns_ - 1),
                                 DEFAULT_COL_WIDTH, nullptr),
            target_, "column widths");
    }
    worksheet_freeze_panes(sheet_, 1, 0);
    if (columns > 0) {
      check(worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(rows_), columns - 1),
            target_, "autofilter");
    }
    // workbook_close frees the workbook whatever it returns.
    errno = 0;
    const lxw_error saved = workbook_close(workbook_.release());
    check_saved(saved, errno, target_);
    replacement_.commit();
  }

 private:
  void open() {
    if (headers_.size() > MAX_SHEET_COLUMNS)
      throw ValueError("Cannot write more than " + std::to_string(MAX_SHEET_COLUMNS) +
                       " columns");
    std::vector<CellText> texts;
    for (std::size_t column = 0; column < headers_.size(); ++column) {
      check_text(headers_[column], "the header of column " + column_name(column + 1));
      texts.push_back(text_for_cell(headers_[column]));
      column_of_.emplace(headers_[column], column);
    }
    // The sheet's rows wait in a file of the library's own until the workbook is closed; beside
    // the target rather than in a temporary folder that may be held in memory.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir_.data();
    workbook_.reset(workbook_new_opt(replacement_.temporary().c_str(), &options));
    if (!workbook_) throw OSError("Cannot write workbook " + target_.string());
    sheet_ = workbook_add_worksheet(workbook_.get(), nullptr);
    lxw_format* header_format = workbook_add_format(workbook_.get());
    if (sheet_ == nullptr || header_format == nullptr)
      throw OSError("Cannot write workbook " + target_.string());
    format_set_bold(header_format);
    format_set_align(header_format, LXW_ALIGN_CENTER);
    format_set_border(header_format, LXW_BORDER_THIN);
    for (std::size_t column = 0; column < texts.size(); ++column) {
      check(write_text(0, static_cast<lxw_col_t>(column), texts[column], header_format), target_,
            "header");
    }
  }

  // Texts always go in as strings, never as formulas, whatever they start with.
  lxw_error write_text(lxw_row_t row, lxw_col_t column, const CellText& text, lxw_format* format) {
    if (text.runs.size() == 1)
      return worksheet_write_string(sheet_, row, column, text.runs.front().c_str(), format);
    std::vector<lxw_rich_string_tuple> runs(text.runs.size());
    std::vector<lxw_rich_string_tuple*> listed;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      runs[i] = {nullptr, const_cast<char*>(text.runs[i].c_str())};
      listed.push_back(&runs[i]);
    }
    listed.push_back(nullptr);
    return worksheet_write_rich_string(sheet_, row, column, listed.data(), format);
  }

  std::filesystem::path target_;
  base::files::FileReplacement replacement_;
  std::string tmpdir_;
  std::vector<std::string> headers_;
  std::optional<std::size_t> widened_columns_;
  std::unordered_map<std::string, std::size_t> column_of_;
  std::unique_ptr<lxw_workbook, WorkbookFreer> workbook_;
  lxw_worksheet* sheet_ = nullptr;
  std::vector<Cell> cells_;
  std::size_t rows_ = 0;
};

// The columns of a whole table: every record's keys in the order of their first appearance.
std::vector<std::string> table_headers(const Document& data) {
  std::vector<std::string> headers;
  std::unordered_map<std::string, std::size_t> column_of;
  for (std::size_t index = 0; index < data.size(); ++index) {
    const auto& record = data[index];
    if (!record.is_object()) {
      throw TypeError("Row " + std::to_string(index + 1) + " of data must be a mapping, not " +
                      kind_name(record));
    }
    for (const auto& [header, value] : record.items()) {
      if (column_of.emplace(header, headers.size()).second) {
        if (headers.size() == MAX_SHEET_COLUMNS) {
          throw ValueError("Cannot write more than " + std::to_string(MAX_SHEET_COLUMNS) +
                           " columns");
        }
        headers.push_back(header);
      }
    }
  }
  return headers;
}

}  // namespace

void export_to_xlsx(const Document& data, const std::filesystem::path& path) {
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
  SheetWriter sheet(path, table_headers(data), data.front().size());
  for (const auto& record : data) sheet.append(record);
  sheet.finish();
}

std::unique_ptr<ListExport> open_xlsx_row_export(const std::filesystem::path& path) {
  return std::make_unique<SheetWriter>(path, std::vector<std::string>{}, std::nullopt);
}

}  // namespace serializers
