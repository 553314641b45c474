#pragma once

// The convert program: reads the edited discovery workbook and a discovery template, builds the
// accounts, checks the whole with the migration model and only then writes the discovery file.

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "generator/convert/field_formatters.hpp"
#include "generator/convert/workbook_sheet.hpp"
#include "generator/log/log.hpp"
#include "serializers/export/export.hpp"

namespace generator::convert {

/// Runs the program on `args` (without the program name); `program_name` is shown in usage,
/// help and --version. Errors pass to the caller.
void main(const std::vector<std::string>& args, const std::string& program_name);

/// The discovery document that convert writes: the accounts of `sheet` (already past check_sheet)
/// put into `discovery_config`, the template read from `template_path`, each account checked by
/// the migration model and handed to `accounts` (a list export under "account_info" framed by the
/// template) as soon as it is built, then the template itself checked. The caller finishes
/// `accounts` once this returns. The errors of generate_discovery_account_info name the row and
/// column; TypeError for a template that is not a mapping and ovra::ValidationError for one the
/// model refuses name `template_path`. Its messages are issued in the name of `caller`, the run's
/// step that builds the document.
void discovery_document(const WorkbookSheet& sheet, const Value& discovery_config,
                        const std::string& template_path, serializers::ListExport& accounts,
                        log::Issuer caller = log::Issuer());

/// Checks the discovery configuration with the migration model: the template's sections, and
/// the accounts it holds (convert hands it the template with no accounts, each account having
/// been checked as it was built); ovra::ValidationError when the model refuses it.
void _validate_discovery_config(const Value& discovery_config);

/// The kind name of errors that are not the generator's own but can end a conversion (the migration
/// model's ValidationError); nothing for any other error.
std::optional<std::string> name_error_kind(const std::exception& error);

}  // namespace generator::convert
