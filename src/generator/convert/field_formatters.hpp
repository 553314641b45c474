#pragma once

// Cell texts of the workbook back into the values of the discovery data: booleans, lists of
// texts, and gateway tags.

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "generator/common/workbook_layout.hpp"

namespace generator::convert {

using Value = nlohmann::ordered_json;

/// Turns one non-empty cell into the value its column stands for; fails with ValueError or
/// TypeError on a cell it cannot read.
using FieldFormatter = std::function<Value(const Value& cell)>;

/// Reads a boolean cell: a boolean keeps its value, a number is false only when zero, and the
/// words true/false, yes/no, y/n, on/off and 1/0 are read in any letter case. Any other text is
/// refused, as reading it as true would give the operator the opposite of what was meant.
bool _bool(const Value& value);

/// A formatter for list cells: removes "[", "]" and "'", splits at ", ", drops empty pieces and
/// converts each piece with `item_conversion`.
FieldFormatter _list(std::function<Value(const std::string&)> item_conversion);

/// Reads "key=value" pairs separated by commas into a list of {"key", "value"} mappings; empty
/// pieces are skipped, a piece without exactly one "=" is refused.
Value parse_spoke_gw_tags(const Value& tags_str);

/// The formatter of each column that has one: its cell kind in the workbook's column table
/// decides (booleans, lists, tags).
const std::map<std::string, FieldFormatter>& FIELD_FORMATTERS();

/// What the formatter of a column of `kind` reads from the text `cell` that the operator may well
/// not have meant: a list item, tag key or tag value that begins or ends with a blank (space, tab, line
/// break, no-break space), a list item holding a comma that did not separate, an empty tag key.
/// One phrase each, in cell order; nothing for other columns, other cells, or a cell the formatter
/// refuses.
std::vector<std::string> doubtful_readings(CellKind kind, const Value& cell);

/// A cell value as a message shows it: a text in double quotes, a date as its date (and time, when
/// it has one), a time of day as that time, a number or boolean as a spreadsheet shows it.
std::string shown_cell(const Value& cell);

}  // namespace generator::convert
