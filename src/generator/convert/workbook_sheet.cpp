#include "generator/convert/workbook_sheet.hpp"

#include <algorithm>
#include <array>

#include "generator/common/errors.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace generator::convert {

namespace {

constexpr std::size_t COLUMNS = WORKBOOK_COLUMN_TABLE.size();

// One cell as held: its kind and either its number or where its text lies.
struct StoredCell {
  enum class Kind : std::uint8_t { empty, text, date, boolean, integer, real, marker, error };
  Kind kind = Kind::empty;
  std::uint32_t length = 0;
  union {
    std::uint64_t offset = 0;
    std::int64_t integer;
    double real;
    bool flag;
  };

  [[nodiscard]] bool has_text() const {
    return kind == Kind::text || kind == Kind::date || kind == Kind::marker ||
           kind == Kind::error;
  }
  [[nodiscard]] bool missing() const {
    return kind == Kind::empty || kind == Kind::marker || kind == Kind::error;
  }
};

struct StoredRow {
  std::uint32_t number = 0;
  std::array<StoredCell, COLUMNS> cells{};
};

// The texts of all cells in chunks that never move, so that no growth copies what is held.
class TextStore {
 public:
  [[nodiscard]] std::uint64_t add(std::string_view text) {
    if (chunks_.empty() || CHUNK_BYTES - used_ < text.size()) {
      chunks_.push_back(std::make_unique<char[]>(CHUNK_BYTES));
      used_ = 0;
    }
    std::copy(text.begin(), text.end(), chunks_.back().get() + used_);
    const std::uint64_t offset = (chunks_.size() - 1) * CHUNK_BYTES + used_;
    used_ += text.size();
    return offset;
  }
  [[nodiscard]] std::string_view at(std::uint64_t offset, std::uint32_t length) const {
    return {chunks_[offset / CHUNK_BYTES].get() + offset % CHUNK_BYTES, length};
  }

 private:
  // A cell's text is at most MAX_CELL_TEXT_BYTES, so it always fits in a fresh chunk.
  static constexpr std::size_t CHUNK_BYTES = std::size_t{4} << 20;
  static_assert(serializers::MAX_CELL_TEXT_BYTES <= CHUNK_BYTES);
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t used_ = 0;
};

// The rows in blocks that never move, for the same reason.
class StoredRows {
 public:
  StoredRow& add() {
    if (size_ % BLOCK_ROWS == 0) blocks_.push_back(std::make_unique<Block>());
    return (*blocks_.back())[size_++ % BLOCK_ROWS];
  }
  [[nodiscard]] const StoredRow& at(std::size_t index) const {
    return (*blocks_[index / BLOCK_ROWS])[index % BLOCK_ROWS];
  }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  static constexpr std::size_t BLOCK_ROWS = 4096;
  using Block = std::array<StoredRow, BLOCK_ROWS>;
  std::vector<std::unique_ptr<Block>> blocks_;
  std::size_t size_ = 0;
};

bool is_text_column(WorkbookColumn column) {
  return table_entry(column).kind == CellKind::text;
}

}  // namespace

struct WorkbookSheet::Contents {
  std::string name;
  std::vector<std::string> headers;
  // Each column's place in the sheet (1-based), when row 1 names it.
  std::array<std::uint32_t, COLUMNS> sheet_column{};
  std::array<serializers::ColumnTyping, COLUMNS> typing{};
  StoredRows rows;
  TextStore text;

  [[nodiscard]] std::string_view text_of(const StoredCell& cell) const {
    return text.at(cell.offset, cell.length);
  }
};

// Keeps each row's cells of the workbook's columns as the sheet streams past.
class WorkbookSheet::Reader : public serializers::SheetRows {
 public:
  Reader(Contents& contents, const std::filesystem::path& workbook)
      : contents_(contents), workbook_(workbook) {}

  void sheet(std::string_view name) override { contents_.name = name; }

  void row(std::uint32_t row_number, std::vector<serializers::SheetCell>& cells) override {
    if (row_number == 1) {
      read_headers(cells);
      return;
    }
    const StoredRow* above = contents_.rows.size() == 0
                                 ? nullptr
                                 : &contents_.rows.at(contents_.rows.size() - 1);
    StoredRow& stored = contents_.rows.add();
    stored.number = row_number;
    for (serializers::SheetCell& cell : cells) {
      if (cell.column >= column_at_.size() || column_at_[cell.column] < 0) continue;
      const auto index = static_cast<std::size_t>(column_at_[cell.column]);
      stored.cells[index] = stored_cell(static_cast<WorkbookColumn>(index), cell,
                                        above != nullptr ? &above->cells[index] : nullptr);
    }
    // A column's typing counts its empty cells as missing values, as the reader's table does.
    for (std::size_t index = 0; index < COLUMNS; ++index) {
      const StoredCell& held = stored.cells[index];
      if (!is_text_column(static_cast<WorkbookColumn>(index)) && held.missing())
        contents_.typing[index].see(nullptr);
    }
  }

 private:
  void read_headers(const std::vector<serializers::SheetCell>& cells) {
    const std::size_t width = cells.empty() ? 0 : cells.back().column;
    contents_.headers = serializers::table_headers(cells, width);
    column_at_.assign(width + 1, -1);
    for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE) {
      const auto found =
          std::find(contents_.headers.begin(), contents_.headers.end(), entry.header);
      if (found == contents_.headers.end()) continue;
      const auto sheet_column = static_cast<std::uint32_t>(found - contents_.headers.begin()) + 1;
      contents_.sheet_column[static_cast<std::size_t>(entry.column)] = sheet_column;
      column_at_[sheet_column] = static_cast<int>(entry.column);
    }
  }

  StoredCell stored_cell(WorkbookColumn column, serializers::SheetCell& cell,
                         const StoredCell* above) {
    using Kind = StoredCell::Kind;
    const bool text_column = is_text_column(column);
    serializers::ColumnTyping& typing = contents_.typing[static_cast<std::size_t>(column)];
    if (cell.value.is_null()) return with_text(Kind::error, cell.error.value_or(""), above);
    serializers::Document value = std::move(cell.value);
    // Account numbers keep their leading zeros, and a name made only of digits stays the text
    // the operator sees; a date stays a date, so that it can be refused as one.
    if (text_column && !serializers::is_date(value)) value = serializers::to_text(value);
    if (serializers::is_missing(value)) {
      const auto& marker = value.get_ref<const std::string&>();
      return marker.empty() ? StoredCell{} : with_text(Kind::marker, marker, above);
    }
    if (!text_column) typing.see(value);
    StoredCell stored;
    switch (value.type()) {
      case serializers::Document::value_t::string:
        return with_text(Kind::text, value.get_ref<const std::string&>(), above);
      case serializers::Document::value_t::binary:
        return with_text(Kind::date, serializers::date_text(value), above);
      case serializers::Document::value_t::boolean:
        stored.kind = Kind::boolean;
        stored.flag = value.get<bool>();
        return stored;
      case serializers::Document::value_t::number_integer:
        stored.kind = Kind::integer;
        stored.integer = value.get<std::int64_t>();
        return stored;
      default:
        stored.kind = Kind::real;
        stored.real = value.get<double>();
        return stored;
    }
  }

  // A text the row above holds in the same column (the account's columns, the region) is kept once.
  StoredCell with_text(StoredCell::Kind kind, std::string_view text, const StoredCell* above) {
    StoredCell stored;
    stored.kind = kind;
    stored.length = static_cast<std::uint32_t>(text.size());
    if (above != nullptr && above->kind == kind && contents_.text_of(*above) == text) {
      stored.offset = above->offset;
      return stored;
    }
    text_bytes_ += text.size();
    if (text_bytes_ > MAX_SHEET_TEXT_BYTES) {
      throw serializers::XLSXError("'" + workbook_.string() +
                                   "': the cells of the discovery workbook's columns hold more "
                                   "than " +
                                   std::to_string(MAX_SHEET_TEXT_BYTES >> 20) + " MiB of text");
    }
    stored.offset = contents_.text.add(text);
    return stored;
  }

  Contents& contents_;
  const std::filesystem::path& workbook_;
  // The workbook column of each sheet column that row 1 names, -1 for the others.
  std::vector<int> column_at_;
  std::size_t text_bytes_ = 0;
};

WorkbookSheet WorkbookSheet::read(const std::filesystem::path& path) {
  auto contents = std::make_unique<Contents>();
  Reader reader(*contents, path);
  serializers::load_from_xlsx(path, reader);
  return WorkbookSheet(std::move(contents));
}

WorkbookSheet WorkbookSheet::read_bytes(std::string_view workbook,
                                        const std::filesystem::path& name) {
  auto contents = std::make_unique<Contents>();
  Reader reader(*contents, name);
  serializers::load_from_xlsx_bytes(workbook, name, reader);
  return WorkbookSheet(std::move(contents));
}

WorkbookSheet::WorkbookSheet(std::unique_ptr<Contents> contents)
    : contents_(std::move(contents)) {}
WorkbookSheet::WorkbookSheet(WorkbookSheet&&) noexcept = default;
WorkbookSheet& WorkbookSheet::operator=(WorkbookSheet&&) noexcept = default;
WorkbookSheet::~WorkbookSheet() = default;

const std::string& WorkbookSheet::name() const noexcept { return contents_->name; }
const std::vector<std::string>& WorkbookSheet::headers() const noexcept {
  return contents_->headers;
}
bool WorkbookSheet::has(WorkbookColumn column) const {
  return contents_->sheet_column[static_cast<std::size_t>(column)] != 0;
}
std::size_t WorkbookSheet::size() const noexcept { return contents_->rows.size(); }

std::uint32_t WorkbookRow::row_number() const {
  return sheet_->contents_->rows.at(index_).number;
}

bool WorkbookRow::sheet_has(WorkbookColumn column) const { return sheet_->has(column); }

Value WorkbookRow::cell(WorkbookColumn column) const {
  if (!sheet_has(column)) {
    throw KeyError(cell_label(*this, column) +
                   ": the workbook has no such column (its header row must name it)");
  }
  const WorkbookSheet::Contents& contents = *sheet_->contents_;
  const auto index = static_cast<std::size_t>(column);
  const StoredCell& stored = contents.rows.at(index_).cells[index];
  using Kind = StoredCell::Kind;
  Value value;
  switch (stored.kind) {
    case Kind::empty:
    case Kind::marker:
    case Kind::error:
      return Value(std::string());
    case Kind::text:
      value = std::string(contents.text_of(stored));
      break;
    case Kind::date:
      value = serializers::make_date(contents.text_of(stored));
      break;
    case Kind::boolean:
      value = stored.flag;
      break;
    case Kind::integer:
      value = stored.integer;
      break;
    case Kind::real:
      value = stored.real;
      break;
  }
  return is_text_column(column) ? value : contents.typing[index].typed(std::move(value));
}

std::optional<MissingCell> WorkbookRow::read_as_missing(WorkbookColumn column) const {
  if (!sheet_has(column)) return std::nullopt;
  const WorkbookSheet::Contents& contents = *sheet_->contents_;
  const StoredCell& stored = contents.rows.at(index_).cells[static_cast<std::size_t>(column)];
  if (stored.kind != StoredCell::Kind::marker && stored.kind != StoredCell::Kind::error)
    return std::nullopt;
  return MissingCell{std::string(contents.text_of(stored)),
                     stored.kind == StoredCell::Kind::error};
}

std::string row_label(const WorkbookRow& row) {
  return "row " + std::to_string(row.row_number());
}

std::string cell_label(const WorkbookRow& row, WorkbookColumn column) {
  return row_label(row) + ", column " + header_of(column);
}

Value logged_row(const WorkbookRow& row) {
  Value cells = Value::object();
  for (const WorkbookColumnEntry& entry : WORKBOOK_COLUMN_TABLE)
    if (row.sheet_has(entry.column)) cells[std::string(entry.header)] = row.cell(entry.column);
  return Value{{"row", row.row_number()}, {"cells", std::move(cells)}};
}

}  // namespace generator::convert
