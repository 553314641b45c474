// Compiled by format_check_test, once per case: only the message whose fields match its arguments
// may build.

#include <string>

#include "generator/log/log.hpp"

void issue(generator::log::Logger& logger) {
#if defined(FIELDS_MATCH_ARGUMENTS)
  logger.warning("{} of {} {{kept}}", 1, std::string("two"));
  const generator::log::FormatString<std::string> header = "Account List:\n{}";
  logger.debug(header, std::string("[]"));
#elif defined(ARGUMENT_WITHOUT_FIELD)
  logger.warning("{} of", 1, std::string("two"));
#elif defined(FIELD_WITHOUT_ARGUMENT)
  logger.warning("{} of {}", 1);
#elif defined(LONE_BRACE)
  logger.warning("{} of {kept}", 1);
#elif defined(HEADER_WITHOUT_FIELD)
  const generator::log::FormatString<std::string> header = "Account List:";
#endif
}
