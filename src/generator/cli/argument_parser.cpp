#include "generator/cli/argument_parser.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fmt/format.h>
#include <iostream>
#include <sstream>

#include "generator/common/errors.hpp"

namespace generator::cli {

namespace {

bool looks_like_negative_number(std::string_view text) {
  if (text.size() < 2 || text[0] != '-') return false;
  bool digit = false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i])))
      digit = true;
    else if (text[i] != '.')
      return false;
  }
  return digit;
}

bool looks_like_option(std::string_view text) {
  return text.size() > 1 && text[0] == '-' && !looks_like_negative_number(text) &&
         text.find(' ') == std::string_view::npos;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  return fmt::format("{}", fmt::join(parts, separator));
}

std::size_t text_width() {
  // Like most tools, fit the help to the terminal when the shell tells its width.
  std::size_t columns = 80;
  if (const char* env = std::getenv("COLUMNS")) {
    const long parsed = std::strtol(env, nullptr, 10);
    if (parsed > 20) columns = static_cast<std::size_t>(parsed);
  }
  return columns - 2;
}

std::vector<std::string> wrap_words(std::string_view text, std::size_t width) {
  std::vector<std::string> lines;
  std::istringstream words{std::string(text)};
  std::string word;
  std::string line;
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string usage_part(const Action& action) {
  std::string part = action.option_strings().front();
  if (action.arity() == Arity::one) part += " " + action.metavar();
  return action.requirement() == Requirement::required ? part : "[" + part + "]";
}

std::string invocation(const Action& action) {
  std::vector<std::string> spellings;
  for (const auto& spelling : action.option_strings()) {
    spellings.push_back(action.arity() == Arity::one ? spelling + " " + action.metavar()
                                                     : spelling);
  }
  return join(spellings, ", ");
}

// One occurrence found while scanning the command line.
struct Occurrence {
  std::shared_ptr<Action> action;           // null for an unknown option or a positional argument
  std::string option_string;                // the spelling the action was found under
  std::optional<std::string> explicit_arg;  // text after "=" or after a short option's letter
  bool after_equals = false;                // explicit_arg was written as "=value"
};

}  // namespace

Action::Action(std::vector<std::string> option_strings, Arity arity, std::string help,
               std::string metavar, Requirement requirement)
    : option_strings_(std::move(option_strings)),
      arity_(arity),
      help_(std::move(help)),
      metavar_(std::move(metavar)),
      requirement_(requirement) {
  if (arity_ == Arity::one && metavar_.empty()) {
    const auto long_spelling =
        std::find_if(option_strings_.begin(), option_strings_.end(),
                     [](const std::string& s) { return s.starts_with("--"); });
    const std::string& name =
        long_spelling != option_strings_.end() ? *long_spelling : option_strings_.front();
    metavar_ = name.substr(name.find_first_not_of('-'));
    std::transform(metavar_.begin(), metavar_.end(), metavar_.begin(), [](unsigned char c) {
      return c == '-' ? '_' : static_cast<char>(std::toupper(c));
    });
  }
}

std::string Action::display_name() const { return join(option_strings_, "/"); }

StoreTrueAction::StoreTrueAction(std::vector<std::string> option_strings, bool& target,
                                 std::string help)
    : Action(std::move(option_strings), Arity::none, std::move(help)), target_(target) {}

void StoreTrueAction::operator()(ArgumentParser&, const std::optional<std::string>&,
                                 std::string_view) {
  target_ = true;
}

StoreAction::StoreAction(std::vector<std::string> option_strings,
                         std::optional<std::string>& target, std::string help, std::string metavar,
                         Requirement requirement)
    : Action(std::move(option_strings), Arity::one, std::move(help), std::move(metavar),
             requirement),
      target_(target) {}

void StoreAction::operator()(ArgumentParser&, const std::optional<std::string>& value,
                             std::string_view) {
  target_ = value.value_or("");
}

StoreWholeNumberAction::StoreWholeNumberAction(std::vector<std::string> option_strings,
                                               std::size_t& target, std::size_t min,
                                               std::size_t max, std::string help,
                                               std::string metavar)
    : Action(std::move(option_strings), Arity::one, std::move(help), std::move(metavar)),
      target_(target),
      min_(min),
      max_(max) {}

void StoreWholeNumberAction::operator()(ArgumentParser& parser,
                                        const std::optional<std::string>& value, std::string_view) {
  const std::string text = value.value_or("");
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < min_ || number > max_)
    parser.error("argument " + display_name() + ": invalid value '" + text +
                 "' (a whole number from " + std::to_string(min_) + " to " + std::to_string(max_) +
                 ")");
  target_ = number;
}

VersionAction::VersionAction(std::vector<std::string> option_strings, std::string version,
                             std::string help)
    : Action(std::move(option_strings), Arity::none, std::move(help)),
      version_(std::move(version)) {}

void VersionAction::operator()(ArgumentParser& parser, const std::optional<std::string>&,
                               std::string_view) {
  std::string text = version_;
  const std::string placeholder = "%(prog)s";
  for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), parser.prog());
    at += parser.prog().size();
  }
  parser.output() << text << '\n' << std::flush;
  throw EarlyExit(EXIT_STATUS_SUCCESS);
}

HelpAction::HelpAction(std::vector<std::string> option_strings)
    : Action(std::move(option_strings), Arity::none, "show this help message and exit") {}

void HelpAction::operator()(ArgumentParser& parser, const std::optional<std::string>&,
                            std::string_view) {
  parser.output() << parser.format_help() << std::flush;
  throw EarlyExit(EXIT_STATUS_SUCCESS);
}

ArgumentParser::ArgumentParser(ParserSettings settings)
    : settings_(std::move(settings)), out_(&std::cout) {
  if (settings_.help_option == HelpOption::add) {
    add_action(std::make_shared<HelpAction>(std::vector<std::string>{"-h", "--help"}));
  }
  for (const auto& parent : settings_.parents) {
    for (const auto& action : parent->actions()) add_action(action);
  }
}

void ArgumentParser::add_action(std::shared_ptr<Action> action) {
  actions_.push_back(std::move(action));
}

std::shared_ptr<Action> ArgumentParser::find_action(std::string_view option_string) const {
  for (const auto& action : actions_) {
    for (const auto& spelling : action->option_strings()) {
      if (spelling == option_string) return action;
    }
  }
  return nullptr;
}

void ArgumentParser::error(const std::string& message) const {
  throw UsageError(format_usage(), settings_.prog, message);
}

void ArgumentParser::parse_args(const std::vector<std::string>& args) {
  // First classify every argument, as ambiguous abbreviations are refused before any option acts.
  std::vector<Occurrence> occurrences;
  std::vector<std::size_t> argument_index;
  bool only_positionals = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    Occurrence occurrence;
    if (!only_positionals && arg == "--") {
      only_positionals = true;
      continue;
    }
    if (!only_positionals && looks_like_option(arg)) {
      if (arg.starts_with("--")) {
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (equals != std::string::npos) {
          occurrence.explicit_arg = arg.substr(equals + 1);
          occurrence.after_equals = true;
        }
        if (auto exact = find_action(name)) {
          occurrence.action = exact;
          occurrence.option_string = name;
        } else {
          std::vector<std::string> matches;
          std::shared_ptr<Action> match;
          for (const auto& action : actions_) {
            for (const auto& spelling : action->option_strings()) {
              if (spelling.starts_with("--") && spelling.starts_with(name)) {
                matches.push_back(spelling);
                match = action;
              }
            }
          }
          if (matches.size() > 1)
            error("ambiguous option: " + name + " could match " + join(matches, ", "));
          if (matches.size() == 1) {
            occurrence.action = match;
            occurrence.option_string = matches.front();
          }
        }
      } else if (auto exact = find_action(arg)) {
        occurrence.action = exact;
        occurrence.option_string = arg;
      } else if (const auto equals = arg.find('=');
                 equals != std::string::npos && find_action(arg.substr(0, equals))) {
        // "-c=value": the option spelled before "=" takes the rest as its value.
        occurrence.action = find_action(arg.substr(0, equals));
        occurrence.option_string = arg.substr(0, equals);
        occurrence.explicit_arg = arg.substr(equals + 1);
        occurrence.after_equals = true;
      } else if (auto short_option = find_action(arg.substr(0, 2))) {
        occurrence.action = short_option;
        occurrence.option_string = arg.substr(0, 2);
        occurrence.explicit_arg = arg.substr(2);
      }
    }
    if (!occurrence.action) occurrence.option_string = arg;
    occurrences.push_back(std::move(occurrence));
    argument_index.push_back(i);
  }

  std::vector<std::string> extras;
  std::vector<const Action*> seen;
  for (std::size_t k = 0; k < occurrences.size(); ++k) {
    Occurrence occurrence = occurrences[k];
    if (!occurrence.action) {
      extras.push_back(occurrence.option_string);
      continue;
    }
    // A short-option cluster acts letter by letter: "-vq" is -v then -q.
    while (true) {
      Action& action = *occurrence.action;
      seen.push_back(&action);
      if (action.arity() == Arity::one) {
        std::optional<std::string> value = occurrence.explicit_arg;
        if (!value) {
          const bool has_next = k + 1 < occurrences.size() && !occurrences[k + 1].action &&
                                !looks_like_option(occurrences[k + 1].option_string);
          if (!has_next) error("argument " + action.display_name() + ": expected one argument");
          value = occurrences[++k].option_string;
        }
        action(*this, value, occurrence.option_string);
        break;
      }
      if (occurrence.explicit_arg) {
        if (occurrence.after_equals) {
          error("argument " + action.display_name() + ": ignored explicit argument '" +
                *occurrence.explicit_arg + "'");
        }
        const std::string next_option =
            std::string(1, '-').append(occurrence.explicit_arg->substr(0, 1));
        auto next_action = find_action(next_option);
        if (!next_action) {
          error("argument " + action.display_name() + ": ignored explicit argument '" +
                *occurrence.explicit_arg + "'");
        }
        action(*this, std::nullopt, occurrence.option_string);
        // The letters left after this one belong to the next option; none left means none given.
        std::string rest = occurrence.explicit_arg->substr(1);
        occurrence = Occurrence{next_action, next_option,
                                rest.empty() ? std::nullopt : std::optional<std::string>(rest)};
        continue;
      }
      action(*this, std::nullopt, occurrence.option_string);
      break;
    }
  }
  std::vector<std::string> missing;
  for (const auto& action : actions_) {
    if (action->requirement() == Requirement::required &&
        std::find(seen.begin(), seen.end(), action.get()) == seen.end()) {
      missing.push_back(action->display_name());
    }
  }
  if (!missing.empty()) error("the following arguments are required: " + join(missing, ", "));
  if (!extras.empty()) error("unrecognized arguments: " + join(extras, " "));
}

std::string ArgumentParser::format_usage() const {
  const std::string prefix = "usage: " + settings_.prog;
  const std::size_t width = text_width();
  std::string out = prefix;
  std::size_t line_length = out.size();
  for (const auto& action : actions_) {
    const std::string part = usage_part(*action);
    if (line_length + 1 + part.size() > width && line_length > prefix.size()) {
      out.append("\n").append(prefix.size(), ' ');
      line_length = prefix.size();
    }
    out += " " + part;
    line_length += 1 + part.size();
  }
  return out + "\n";
}

std::string ArgumentParser::format_help() const {
  const std::size_t width = text_width();
  constexpr std::size_t indent = 2;
  std::size_t longest = 0;
  for (const auto& action : actions_)
    longest = std::max(longest, invocation(*action).size() + indent);
  const std::size_t help_position = std::min<std::size_t>(longest + 2, 24);
  const std::size_t help_width =
      std::max<std::size_t>(width > help_position ? width - help_position : 11, 11);

  std::string out = format_usage();
  if (!settings_.description.empty()) {
    out += "\n";
    for (const auto& line : wrap_words(settings_.description, width)) out += line + "\n";
  }
  if (!actions_.empty()) out += "\noptions:\n";
  for (const auto& action : actions_) {
    const std::string header = std::string(indent, ' ') + invocation(*action);
    const auto help_lines = wrap_words(action->help(), help_width);
    if (help_lines.empty()) {
      out += header + "\n";
      continue;
    }
    std::size_t first = 0;
    if (header.size() + 2 <= help_position) {
      out += header + std::string(help_position - header.size(), ' ') + help_lines.front() + "\n";
      first = 1;
    } else {
      out += header + "\n";
    }
    for (std::size_t i = first; i < help_lines.size(); ++i) {
      out += std::string(help_position, ' ') + help_lines[i] + "\n";
    }
  }
  if (!settings_.epilog.empty())
    out += "\n" + settings_.epilog + (settings_.epilog.ends_with('\n') ? "" : "\n");
  return out;
}

}  // namespace generator::cli
