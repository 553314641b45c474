#pragma once

// What an operator's edits to the discovery workbook may turn into without anyone noticing: a sheet
// that is not the discovery sheet, error cells and dates, words that read as an empty cell, blanks
// and commas inside lists and tags, a gateway subnet outside its VPC. Each is refused or warned
// about naming the row, the column and what the cell holds, before the discovery file is written.

#include <string>
#include <vector>

#include "generator/common/workbook_layout.hpp"
#include "generator/convert/workbook_sheet.hpp"

namespace generator::convert {

/// Refuses a sheet whose header row lacks any of WORKBOOK_COLUMNS: KeyError naming the sheet of
/// `workbook`, the missing columns and the headers that nearly match them ("Domain", "encrypt ").
/// Warns when the sheet has no rows under its header row.
void check_sheet(const WorkbookSheet& sheet, const std::string& workbook);

/// Goes over the cells of WORKBOOK_COLUMNS in every row: ValueError for an error cell, a date or
/// a time, naming row, column and what the cell shows; one warning per cell whose text is read as
/// an empty cell, and one per list or tag cell that reads into items the operator may not have
/// meant.
void check_cells(const WorkbookSheet& sheet);

/// The row's gateway subnet (hvn_cidr) against the VPC's own blocks (vpc_cidrs): ValueError when
/// it lies in none of them or vpc_cidrs is unreadable; a warning when its prefix length is not the
/// one `hpe` asks for (/25 when true, /27 otherwise). An empty or malformed hvn_cidr is left to
/// the migration model.
void check_gateway_subnet(const WorkbookRow& row, bool hpe);

/// What a model refusal of `column` in `row` should add when the cell is empty: the text that was
/// read as an empty cell, or for an account column a hint at merged cells; "" otherwise.
std::string empty_cell_hint(const WorkbookRow& row, WorkbookColumn column);

}  // namespace generator::convert
