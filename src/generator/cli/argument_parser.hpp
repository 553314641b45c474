#pragma once

// A command-line parser with the conventions operators know from the usual Unix tools: short
// options that cluster (-vq), long options that may be shortened to any unambiguous prefix,
// "--name=value", a generated usage and help listing, and usage errors that end with status 2.

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace generator::cli {

class ArgumentParser;

/// Whether an option takes a value from the command line.
enum class Arity { none, one };

/// Whether a command line without the option is a usage error.
enum class Requirement { optional, required };

/// What happens when an option occurs on the command line. Options that keep a value write it to
/// a member of the program's options record, bound when the option is made.
class Action {
 public:
  /// Without a `metavar`, a value is shown as the first long spelling in capitals ("--yaml": YAML).
  Action(std::vector<std::string> option_strings, Arity arity, std::string help,
         std::string metavar = "", Requirement requirement = Requirement::optional);
  virtual ~Action() = default;

  /// Performs the option's effect; `value` is set exactly when the option takes a value.
  virtual void operator()(ArgumentParser& parser, const std::optional<std::string>& value,
                          std::string_view option_string = {}) = 0;

  [[nodiscard]] const std::vector<std::string>& option_strings() const noexcept {
    return option_strings_;
  }
  [[nodiscard]] Arity arity() const noexcept { return arity_; }
  [[nodiscard]] const std::string& help() const noexcept { return help_; }
  [[nodiscard]] const std::string& metavar() const noexcept { return metavar_; }
  [[nodiscard]] Requirement requirement() const noexcept { return requirement_; }
  /// "-c/--config": how usage errors name the option.
  [[nodiscard]] std::string display_name() const;

 private:
  std::vector<std::string> option_strings_;
  Arity arity_;
  std::string help_;
  std::string metavar_;
  Requirement requirement_;
};

/// A flag that sets `target` to true when given; `target` must outlive the action.
class StoreTrueAction : public Action {
 public:
  StoreTrueAction(std::vector<std::string> option_strings, bool& target, std::string help);
  void operator()(ArgumentParser&, const std::optional<std::string>&,
                  std::string_view = {}) override;

 private:
  bool& target_;
};

/// An option that stores its one value in `target` (the last one given wins); `target` must
/// outlive the action.
class StoreAction : public Action {
 public:
  StoreAction(std::vector<std::string> option_strings, std::optional<std::string>& target,
              std::string help, std::string metavar = "",
              Requirement requirement = Requirement::optional);
  void operator()(ArgumentParser&, const std::optional<std::string>& value,
                  std::string_view = {}) override;

 private:
  std::optional<std::string>& target_;
};

/// An option that stores its one value, a whole number from `min` to `max`, in `target` (the last
/// one given wins); any other value is a usage error that names the option and the range. `target`
/// keeps what it holds when the option is not given, and must outlive the action.
class StoreWholeNumberAction : public Action {
 public:
  StoreWholeNumberAction(std::vector<std::string> option_strings, std::size_t& target,
                         std::size_t min, std::size_t max, std::string help,
                         std::string metavar = "");
  void operator()(ArgumentParser& parser, const std::optional<std::string>& value,
                  std::string_view = {}) override;

 private:
  std::size_t& target_;
  std::size_t min_;
  std::size_t max_;
};

/// Prints the version text ("%(prog)s" replaced by the program name) and ends the program with 0.
class VersionAction : public Action {
 public:
  VersionAction(std::vector<std::string> option_strings, std::string version, std::string help);
  void operator()(ArgumentParser& parser, const std::optional<std::string>&,
                  std::string_view = {}) override;

 private:
  std::string version_;
};

/// Prints the help listing and ends the program with 0.
class HelpAction : public Action {
 public:
  explicit HelpAction(std::vector<std::string> option_strings);
  void operator()(ArgumentParser& parser, const std::optional<std::string>&,
                  std::string_view = {}) override;
};

/// Whether a parser carries the standard -h/--help option.
enum class HelpOption { add, omit };

/// Settings of a parser.
struct ParserSettings {
  std::string prog;         // empty: the name under which the program was started
  std::string description;  // shown under the usage in the help listing
  std::string epilog;       // shown at the end of the help listing
  HelpOption help_option = HelpOption::add;
  /// Parsers whose options this one takes over, in order, after its own help option.
  std::vector<std::shared_ptr<ArgumentParser>> parents;
};

/// The parser of one program.
class ArgumentParser {
 public:
  explicit ArgumentParser(ParserSettings settings);

  /// Adds an option; its spellings must start with "-".
  void add_action(std::shared_ptr<Action> action);
  [[nodiscard]] const std::vector<std::shared_ptr<Action>>& actions() const noexcept {
    return actions_;
  }

  /// Parses the arguments (program name excluded) into the records the actions are bound to.
  /// Throws UsageError for a command line it cannot accept and EarlyExit after --help or
  /// --version; actions run in command-line order.
  void parse_args(const std::vector<std::string>& args);

  [[nodiscard]] std::string format_usage() const;
  [[nodiscard]] std::string format_help() const;
  [[nodiscard]] const std::string& prog() const noexcept { return settings_.prog; }
  /// Sets the program name shown in usage, help and --version.
  void set_prog(std::string prog) { settings_.prog = std::move(prog); }

  /// Where --help and --version print; standard output unless a test redirects it.
  void set_output(std::ostream& out) { out_ = &out; }
  [[nodiscard]] std::ostream& output() const { return *out_; }

  /// Ends parsing with a usage error carrying `message`.
  [[noreturn]] void error(const std::string& message) const;

 private:
  std::shared_ptr<Action> find_action(std::string_view option_string) const;

  ParserSettings settings_;
  std::vector<std::shared_ptr<Action>> actions_;
  std::ostream* out_;
};

}  // namespace generator::cli
