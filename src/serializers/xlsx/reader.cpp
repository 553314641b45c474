#include "serializers/xlsx/reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <optional>

#include "serializers/xlsx/archive.hpp"
#include "serializers/xlsx/dates.hpp"
#include "serializers/xlsx/xlsx.hpp"
#include "serializers/xlsx/xml.hpp"

namespace serializers::xlsx_detail {

namespace {

// Relationship parts and small parts (workbook, styles) are read with this bound.
constexpr std::uint64_t MAX_SMALL_PART_BYTES = 16u << 20;

// The length of "YYYY-MM-DD" in a date text.
constexpr std::size_t DATE_PART_LENGTH = 10;

// The shared strings, held in one text with the end of each, since a workbook of a million rows
// may have millions of them.
class SharedStrings {
 public:
  void add(std::string_view text) {
    text_ += text;
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
  }
  [[nodiscard]] std::size_t size() const noexcept { return ends_.size(); }
  [[nodiscard]] std::string_view at(std::size_t index) const {
    const std::uint32_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
  }

 private:
  // The texts are parts of the part's own bytes, so their ends fit in 32 bits.
  static_assert(MAX_SHARED_STRINGS_PART_BYTES < (std::uint64_t{1} << 32));
  std::string text_;
  std::vector<std::uint32_t> ends_;
};

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  // resolved part name
};

// Relationship types are compared by their last segment, which is the same in the transitional
// and the strict spelling.
bool has_type(const Relationship& relationship, std::string_view last_segment) {
  const auto slash = relationship.type.rfind('/');
  return slash != std::string::npos &&
         std::string_view(relationship.type).substr(slash + 1) == last_segment;
}

std::string relationships_part_of(const std::string& part) {
  const auto slash = part.rfind('/');
  if (slash == std::string::npos) return "_rels/" + part + ".rels";
  return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

class RelationshipsReader : public XmlHandler {
 public:
  RelationshipsReader(std::string source_part, const std::filesystem::path& workbook)
      : source_part_(std::move(source_part)), workbook_(workbook) {}

  void start(const XmlName& name, const XmlAttributes& attributes) override {
    if (name.local != "Relationship" || name.ns != PACKAGE_RELATIONSHIPS_NS) return;
    if (attributes.get({}, "TargetMode").value_or("Internal") == "External") return;
    const auto id = attributes.get({}, "Id");
    const auto type = attributes.get({}, "Type");
    const auto target = attributes.get({}, "Target");
    if (!id || !type || !target) return;
    relationships.push_back({std::string(*id), std::string(*type),
                             resolve_target(source_part_, std::string(*target), workbook_)});
  }
  void end(const XmlName&) override {}
  void text(std::string_view) override {}

  std::vector<Relationship> relationships;

 private:
  std::string source_part_;
  const std::filesystem::path& workbook_;
};

// The relationships of `part`; none when the package has no relationship part for it.
std::vector<Relationship> read_relationships(const Archive& archive, const std::string& part) {
  const std::string relationships_part = relationships_part_of(part);
  if (!archive.has(relationships_part)) return {};
  RelationshipsReader reader(part, archive.path());
  parse_part(archive, relationships_part, MAX_SMALL_PART_BYTES, reader);
  return std::move(reader.relationships);
}

struct SheetEntry {
  std::string name;
  std::string relationship_id;
};

class WorkbookReader : public XmlHandler {
 public:
  void start(const XmlName& name, const XmlAttributes& attributes) override {
    if (depth_++ == 0) is_workbook = name.is_spreadsheet("workbook");
    if (name.is_spreadsheet("workbookPr")) {
      const auto date1904 = attributes.get({}, "date1904").value_or("0");
      date_system =
          (date1904 == "1" || date1904 == "true") ? DateSystem::FROM_1904 : DateSystem::FROM_1900;
    } else if (name.is_spreadsheet("sheet")) {
      sheets.push_back({std::string(attributes.get({}, "name").value_or("")),
                        std::string(attributes.relationship("id").value_or(""))});
    }
  }
  void end(const XmlName&) override { --depth_; }
  void text(std::string_view) override {}

  bool is_workbook = false;
  DateSystem date_system = DateSystem::FROM_1900;
  std::vector<SheetEntry> sheets;

 private:
  int depth_ = 0;
};

// What each cell format shows of a number (itself, a date, a time of day), by its index in the
// cell formats of the styles part.
class StylesReader : public XmlHandler {
 public:
  void start(const XmlName& name, const XmlAttributes& attributes) override {
    if (name.is_spreadsheet("numFmt")) {
      const auto id = attributes.get({}, "numFmtId");
      const auto code = attributes.get({}, "formatCode");
      if (id && code) custom_formats_[std::string(*id)] = shown_by_format_code(*code);
    } else if (name.is_spreadsheet("cellXfs")) {
      in_cell_formats_ = true;
    } else if (in_cell_formats_ && name.is_spreadsheet("xf")) {
      format_ids_.emplace_back(attributes.get({}, "numFmtId").value_or("0"));
    }
  }
  void end(const XmlName& name) override {
    if (name.is_spreadsheet("cellXfs")) in_cell_formats_ = false;
  }
  void text(std::string_view) override {}

  // Resolved after the whole part is read: number formats may follow the cell formats.
  [[nodiscard]] std::vector<NumberShown> shown_by_style() const {
    std::vector<NumberShown> shown;
    shown.reserve(format_ids_.size());
    for (const auto& id : format_ids_) {
      const auto custom = custom_formats_.find(id);
      if (custom != custom_formats_.end()) {
        shown.push_back(custom->second);
        continue;
      }
      unsigned number = 0;
      const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
      shown.push_back(error == std::errc() && end == id.data() + id.size()
                          ? shown_by_format_id(number)
                          : NumberShown::number);
    }
    return shown;
  }

 private:
  bool in_cell_formats_ = false;
  std::map<std::string, NumberShown> custom_formats_;
  std::vector<std::string> format_ids_;
};

// Collects the text runs of a string item (<si> or <is>): <t> directly or inside <r>; the phonetic
// runs (<rPh>) are readings shown above the text, not part of it.
class RichTextCollector {
 public:
  explicit RichTextCollector(std::function<void()> too_long) : too_long_(std::move(too_long)) {}
  void start(const XmlName& name) {
    if (name.is_spreadsheet("rPh"))
      ++phonetic_depth_;
    else if (name.is_spreadsheet("t") && phonetic_depth_ == 0)
      in_text_ = true;
  }
  void end(const XmlName& name) {
    if (name.is_spreadsheet("rPh"))
      --phonetic_depth_;
    else if (name.is_spreadsheet("t") && in_text_) {
      in_text_ = false;
      text_ += decode_escapes(run_);
      run_.clear();
    }
  }
  void text(std::string_view characters) {
    if (!in_text_) return;
    run_ += characters;
    if (text_.size() + run_.size() > MAX_CELL_TEXT_BYTES) too_long_();
  }
  std::string take() {
    std::string text = std::move(text_);
    text_.clear();
    run_.clear();
    in_text_ = false;
    phonetic_depth_ = 0;
    return text;
  }

 private:
  std::function<void()> too_long_;
  std::string text_;
  std::string run_;
  bool in_text_ = false;
  int phonetic_depth_ = 0;
};

std::string too_long_text(const std::filesystem::path& workbook, const std::string& part,
                          const std::string& what) {
  return "part " + part + " of workbook " + quoted(workbook) + ": " + what + " holds more than " +
         std::to_string(MAX_CELL_TEXT_BYTES) + " bytes of text";
}

class SharedStringsReader : public XmlHandler {
 public:
  SharedStringsReader(const std::filesystem::path& workbook, const std::string& part)
      : workbook_(workbook), collector_([this, part] {
          throw XLSXError(
              too_long_text(workbook_, part, "shared string " + std::to_string(strings.size())));
        }) {}

  void start(const XmlName& name, const XmlAttributes&) override {
    if (name.is_spreadsheet("si")) {
      if (strings.size() >= MAX_SHARED_STRINGS) {
        throw XLSXError("workbook " + quoted(workbook_) + " has more than " +
                        std::to_string(MAX_SHARED_STRINGS) + " shared strings");
      }
      in_item_ = true;
    } else if (in_item_) {
      collector_.start(name);
    }
  }
  void end(const XmlName& name) override {
    if (name.is_spreadsheet("si")) {
      strings.add(collector_.take());
      in_item_ = false;
    } else if (in_item_) {
      collector_.end(name);
    }
  }
  void text(std::string_view characters) override {
    if (in_item_) collector_.text(characters);
  }

  SharedStrings strings;

 private:
  const std::filesystem::path& workbook_;
  RichTextCollector collector_;
  bool in_item_ = false;
};

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

template <class Number>
std::optional<Number> parse_whole(std::string_view text) {
  text = trimmed(text);
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<double> parse_number(std::string_view text) {
  text = trimmed(text);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Integral numbers within the range of a 64-bit integer come back as integers.
Document number_value(double number) {
  constexpr double INTEGER_LIMIT = 9'223'372'036'854'775'808.0;  // 2^63
  if (std::trunc(number) == number && number >= -INTEGER_LIMIT && number < INTEGER_LIMIT) {
    return static_cast<std::int64_t>(number);
  }
  return number;
}

// Hands the filled cells over row by row: a row is the run of cells that share a row number, so
// only one row is held at a time, and rows must come in the order of their numbers.
class SheetReader : public XmlHandler {
 public:
  SheetReader(const std::filesystem::path& workbook, std::string part, const SharedStrings& shared,
              const std::vector<NumberShown>& shown_by_style, DateSystem date_system,
              SheetRows& rows)
      : workbook_(workbook),
        part_(std::move(part)),
        shared_(shared),
        shown_by_style_(shown_by_style),
        date_system_(date_system),
        rows_(rows),
        inline_text_([this] { fail_too_long(); }) {}

  void start(const XmlName& name, const XmlAttributes& attributes) override {
    if (in_cell_) {
      if (name.is_spreadsheet("v"))
        in_value_ = true;
      else if (name.is_spreadsheet("is"))
        in_inline_ = true;
      else if (in_inline_)
        inline_text_.start(name);
      return;
    }
    if (name.is_spreadsheet("sheetData")) {
      in_sheet_data_ = true;
    } else if (in_sheet_data_ && name.is_spreadsheet("row")) {
      const auto number = attributes.get({}, "r");
      if (number) {
        const auto row = parse_whole<std::uint32_t>(*number);
        if (!row || *row < 1 || *row > MAX_SHEET_ROWS)
          fail("row number '" + std::string(*number) + "' is invalid");
        row_ = *row;
      } else {
        ++row_;
      }
      column_ = 0;
    } else if (in_sheet_data_ && name.is_spreadsheet("c")) {
      start_cell(attributes);
    }
  }

  void end(const XmlName& name) override {
    if (in_cell_) {
      if (name.is_spreadsheet("c"))
        finish_cell();
      else if (name.is_spreadsheet("v"))
        in_value_ = false;
      else if (name.is_spreadsheet("is"))
        in_inline_ = false;
      else if (in_inline_)
        inline_text_.end(name);
      return;
    }
    if (name.is_spreadsheet("sheetData")) {
      in_sheet_data_ = false;
      hand_over_row();
    }
  }

  void text(std::string_view characters) override {
    if (in_value_) {
      value_text_ += characters;
      if (value_text_.size() > MAX_CELL_TEXT_BYTES) fail_too_long();
    } else if (in_inline_) {
      inline_text_.text(characters);
    }
  }

  // The row still held when the part ends without closing its sheet data (malformed XML ends
  // the parse before this).
  void finish() { hand_over_row(); }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw XLSXError("part " + part_ + " of workbook " + quoted(workbook_) + ": " + what);
  }

  [[noreturn]] void fail_too_long() const {
    throw XLSXError(too_long_text(workbook_, part_, "cell " + cell_name()));
  }

  [[nodiscard]] std::string cell_name() const {
    return column_name(cell_column_) + std::to_string(cell_row_);
  }

  void start_cell(const XmlAttributes& attributes) {
    in_cell_ = true;
    value_text_.clear();
    inline_text_.take();
    if (const auto reference = attributes.get({}, "r")) {
      std::tie(cell_column_, cell_row_) = parse_cell_reference(*reference, workbook_);
    } else {
      if (row_ == 0) row_ = 1;
      cell_row_ = row_;
      cell_column_ = column_ + 1;
      if (cell_column_ > MAX_SHEET_COLUMNS)
        fail("row " + std::to_string(row_) + " has too many cells");
    }
    column_ = cell_column_;
    type_ = std::string(attributes.get({}, "t").value_or("n"));
    const auto style = attributes.get({}, "s");
    const auto style_index =
        style ? parse_whole<std::size_t>(*style) : std::optional<std::size_t>(0);
    shown_ = style_index && *style_index < shown_by_style_.size()
                 ? shown_by_style_[*style_index]
                 : NumberShown::number;
  }

  void finish_cell() {
    in_cell_ = in_value_ = in_inline_ = false;
    std::optional<Document> value = cell_value();
    if (!value) return;
    if (held_.empty() || cell_row_ != held_row_) {
      if (cell_row_ <= handed_over_row_ || (!held_.empty() && cell_row_ < held_row_)) {
        fail("cell " + cell_name() + " comes after row " +
             std::to_string(std::max(held_row_, handed_over_row_)) +
             "; the rows of a sheet must come in the order of their numbers");
      }
      hand_over_row();
      held_row_ = cell_row_;
    }
    std::optional<std::string> error;
    if (type_ == "e") error = std::string(trimmed(value_text_));
    held_.push_back({cell_row_, cell_column_, std::move(*value), std::move(error)});
  }

  void hand_over_row() {
    if (held_.empty()) return;
    // A cell written twice keeps its last value.
    std::stable_sort(held_.begin(), held_.end(),
                     [](const SheetCell& a, const SheetCell& b) { return a.column < b.column; });
    std::size_t kept = 0;
    for (std::size_t index = 0; index < held_.size(); ++index) {
      if (kept > 0 && held_[kept - 1].column == held_[index].column)
        held_[kept - 1] = std::move(held_[index]);
      else if (kept++ != index)
        held_[kept - 1] = std::move(held_[index]);
    }
    held_.resize(kept);
    rows_.row(held_row_, held_);
    handed_over_row_ = held_row_;
    held_.clear();
  }

  // The raw value of the finished cell, or nothing when it is empty.
  std::optional<Document> cell_value() {
    if (type_ == "inlineStr") return non_empty_text(inline_text_.take());
    if (type_ == "str") return non_empty_text(decode_escapes(value_text_));
    if (trimmed(value_text_).empty()) return std::nullopt;
    if (type_ == "s") {
      const auto index = parse_whole<std::size_t>(value_text_);
      if (!index || *index >= shared_.size()) {
        fail("cell " + cell_name() + " refers to shared string '" +
             std::string(trimmed(value_text_)) + "', but the workbook has " +
             std::to_string(shared_.size()));
      }
      return non_empty_text(std::string(shared_.at(*index)));
    }
    if (type_ == "b") {
      const auto flag = trimmed(value_text_);
      if (flag == "1" || flag == "true") return Document(true);
      if (flag == "0" || flag == "false") return Document(false);
      fail("cell " + cell_name() + " holds an unreadable boolean '" + std::string(flag) + "'");
    }
    if (type_ == "e") return Document(nullptr);
    if (type_ == "d") {
      const auto text = trimmed(value_text_);
      if (auto date = iso_to_date_text(text)) return make_date(*date);
      if (auto time = iso_to_time_text(text)) return make_date(*time);
      return Document(std::string(text));
    }
    if (type_ != "n") fail("cell " + cell_name() + " has the unknown type '" + type_ + "'");
    const auto number = parse_number(value_text_);
    if (!number)
      fail("cell " + cell_name() + " holds an unreadable number '" +
           std::string(trimmed(value_text_)) + "'");
    if (shown_ != NumberShown::number) {
      if (auto date = serial_to_date_text(*number, date_system_)) {
        // A time format shows the time of day alone, whatever day the number stands for.
        return make_date(shown_ == NumberShown::time_of_day ? date->substr(DATE_PART_LENGTH + 1)
                                                            : *date);
      }
    }
    return number_value(*number);
  }

  static std::optional<Document> non_empty_text(std::string text) {
    if (text.empty()) return std::nullopt;
    return Document(std::move(text));
  }

  const std::filesystem::path& workbook_;
  std::string part_;
  const SharedStrings& shared_;
  const std::vector<NumberShown>& shown_by_style_;
  DateSystem date_system_;
  SheetRows& rows_;

  bool in_sheet_data_ = false;
  std::uint32_t row_ = 0;
  std::uint32_t column_ = 0;

  bool in_cell_ = false;
  bool in_value_ = false;
  bool in_inline_ = false;
  std::uint32_t cell_row_ = 0;
  std::uint32_t cell_column_ = 0;
  std::string type_;
  NumberShown shown_ = NumberShown::number;
  std::string value_text_;
  RichTextCollector inline_text_;

  std::vector<SheetCell> held_;
  std::uint32_t held_row_ = 0;
  std::uint32_t handed_over_row_ = 0;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 &&
        hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string resolve_target(const std::string& source_part, const std::string& target,
                           const std::filesystem::path& workbook) {
  std::string decoded = percent_decoded(target);
  // Some writers put a backslash for the slash, in targets as in part names.
  std::replace(decoded.begin(), decoded.end(), '\\', '/');
  std::string joined;
  if (!decoded.empty() && decoded.front() == '/') {
    joined = decoded.substr(1);
  } else {
    const auto slash = source_part.rfind('/');
    joined =
        (slash == std::string::npos ? std::string() : source_part.substr(0, slash + 1)) + decoded;
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const auto end = std::min(joined.find('/', start), joined.size());
    const std::string segment = joined.substr(start, end - start);
    if (segment == "..") {
      if (segments.empty()) {
        throw XLSXError("workbook " + quoted(workbook) + " refers to '" + target +
                        "' outside the package");
      }
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string part;
  for (const auto& segment : segments) part += (part.empty() ? "" : "/") + segment;
  return part;
}

std::pair<std::uint32_t, std::uint32_t> parse_cell_reference(
    std::string_view reference, const std::filesystem::path& workbook) {
  const auto invalid = [&] {
    return XLSXError("workbook " + quoted(workbook) + " has an invalid cell reference '" +
                     std::string(reference) + "'");
  };
  std::size_t position = 0;
  std::uint64_t column = 0;
  while (position < reference.size() &&
         std::isalpha(static_cast<unsigned char>(reference[position]))) {
    column =
        column * 26 + static_cast<std::uint64_t>(
                          std::toupper(static_cast<unsigned char>(reference[position])) - 'A' + 1);
    if (column > MAX_SHEET_COLUMNS) throw invalid();
    ++position;
  }
  if (position == 0) throw invalid();
  const auto row = parse_whole<std::uint32_t>(reference.substr(position));
  if (!row || *row < 1 || *row > MAX_SHEET_ROWS ||
      !std::isdigit(static_cast<unsigned char>(reference[position]))) {
    throw invalid();
  }
  return {static_cast<std::uint32_t>(column), *row};
}

void read_first_sheet(const Archive& archive, SheetRows& rows) {
  const std::filesystem::path& path = archive.path();
  const auto not_a_workbook = [&](const std::string& why) {
    return XLSXError(quoted(path) + " is not a workbook: " + why);
  };

  std::string workbook_part = "xl/workbook.xml";
  for (const auto& relationship : read_relationships(archive, "")) {
    if (has_type(relationship, "officeDocument")) {
      workbook_part = relationship.target;
      break;
    }
  }
  if (!archive.has(workbook_part)) throw not_a_workbook("it has no workbook part");
  WorkbookReader workbook;
  parse_part(archive, workbook_part, MAX_SMALL_PART_BYTES, workbook);
  if (!workbook.is_workbook) throw not_a_workbook("its main part is not a spreadsheet");

  const auto relationships = read_relationships(archive, workbook_part);
  const auto find = [&](std::string_view id) -> const Relationship* {
    for (const auto& relationship : relationships) {
      if (relationship.id == id) return &relationship;
    }
    return nullptr;
  };
  // Chart sheets and dialog sheets hold no cells: the first sheet is the first worksheet.
  const SheetEntry* first = nullptr;
  const Relationship* sheet_relationship = nullptr;
  for (const auto& sheet : workbook.sheets) {
    const auto* relationship = find(sheet.relationship_id);
    if (relationship != nullptr && has_type(*relationship, "worksheet")) {
      first = &sheet;
      sheet_relationship = relationship;
      break;
    }
  }
  if (first == nullptr) throw not_a_workbook("it has no worksheet");
  if (!archive.has(sheet_relationship->target)) {
    throw XLSXError("workbook " + quoted(path) + " has no part " + sheet_relationship->target +
                    " for its sheet '" + first->name + "'");
  }

  SharedStrings shared_strings;
  std::vector<NumberShown> shown_by_style;
  for (const auto& relationship : relationships) {
    if (has_type(relationship, "sharedStrings") && archive.has(relationship.target)) {
      SharedStringsReader reader(path, relationship.target);
      parse_part(archive, relationship.target, MAX_SHARED_STRINGS_PART_BYTES, reader);
      shared_strings = std::move(reader.strings);
    } else if (has_type(relationship, "styles") && archive.has(relationship.target)) {
      StylesReader reader;
      parse_part(archive, relationship.target, MAX_SMALL_PART_BYTES, reader);
      shown_by_style = reader.shown_by_style();
    }
  }

  rows.sheet(first->name);
  SheetReader sheet(path, sheet_relationship->target, shared_strings, shown_by_style,
                    workbook.date_system, rows);
  parse_part(archive, sheet_relationship->target, MAX_SHEET_PART_BYTES, sheet);
  sheet.finish();
}

namespace {

// The filled cells of the whole sheet, for the table that load_from_xlsx builds and holds.
class WholeSheet : public SheetRows {
 public:
  explicit WholeSheet(const std::filesystem::path& workbook) : workbook_(workbook) {}

  void sheet(std::string_view name) override { whole.name = name; }

  void row(std::uint32_t, std::vector<SheetCell>& cells) override {
    for (SheetCell& cell : cells) {
      if (cell.value.is_string()) {
        text_bytes_ += cell.value.get_ref<const std::string&>().size();
        if (text_bytes_ > MAX_TABLE_TEXT_BYTES) {
          throw XLSXError("the first sheet of workbook " + quoted(workbook_) + " holds more than " +
                          std::to_string(MAX_TABLE_TEXT_BYTES) + " bytes of text");
        }
      }
      if (whole.cells.size() >= MAX_TABLE_CELLS) {
        throw XLSXError("the first sheet of workbook " + quoted(workbook_) + " holds more than " +
                        std::to_string(MAX_TABLE_CELLS) + " filled cells");
      }
      whole.cells.push_back(std::move(cell));
    }
  }

  RawSheet whole;

 private:
  const std::filesystem::path& workbook_;
  std::size_t text_bytes_ = 0;
};

}  // namespace

RawSheet read_first_sheet(const std::filesystem::path& path) {
  const Archive archive(path);
  return read_first_sheet(archive);
}

RawSheet read_first_sheet(const Archive& archive) {
  WholeSheet sheet(archive.path());
  read_first_sheet(archive, sheet);
  return std::move(sheet.whole);
}

}  // namespace serializers::xlsx_detail
