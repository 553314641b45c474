#pragma once

// The steps of a generate run as the debug layout's function-name field shows them: the builders
// of the discovery file and of the workbook, whose names the layout's readers know. The one scan
// and the outputs issue their messages in these names; the run's own steps issue as `main`.

#include "generator/log/log.hpp"

namespace generator::generate {

/// The discovery file's builder: the file's own messages, and the scan's unless the workbook is
/// the only file the run builds.
inline constexpr log::Issuer DISCOVERY_FILE_STEP{"generate_min_discovery_yaml"};

/// The workbook's builder: its rows' messages, and the scan's when it is the only file built.
inline constexpr log::Issuer WORKBOOK_STEP{"generate_discovery_excel_data"};

}  // namespace generator::generate
