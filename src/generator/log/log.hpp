#pragma once

// The "generator" logger tree: named loggers that hand every message up to "generator", three
// message layouts and the verbosity steps that -v and -q trigger.

#include <fmt/core.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace generator::log {

/// Message levels; any integer is a level, these are the named ones.
enum Level : int { NOTSET = 0, DEBUG = 10, INFO = 20, WARNING = 30, ERROR = 40, CRITICAL = 50 };

/// The level name shown in messages ("INFO"), or "Level <n>" for an unnamed level.
std::string level_name(int level);

inline constexpr std::string_view LOG_FORMAT = "{name}:{levelname} {message}";
inline constexpr std::string_view LOG_DEBUG_FORMAT =
    "{asctime} {levelname} {name}:{funcName} {message}";
inline constexpr std::string_view LOG_QUIET_FORMAT = "{levelname}: {message}";

/// One message on its way to the handlers.
struct Record {
  std::string logger_name;
  int level;
  std::string function_name;
  std::chrono::system_clock::time_point time;
  std::string message;  // placeholders already filled
};

/// Fills a layout template with the fields of a record.
class Formatter {
 public:
  explicit Formatter(std::string_view layout);
  /// The record rendered in this layout, without a line end.
  [[nodiscard]] std::string format(const Record& record) const;
  [[nodiscard]] const std::string& layout() const noexcept { return layout_; }

 private:
  std::string layout_;
};

/// The shared debug and quiet layouts; the level steps compare a handler's formatter with these
/// by identity.
extern const std::shared_ptr<const Formatter> DEBUG_FORMATTER;
extern const std::shared_ptr<const Formatter> QUIET_FORMATTER;

/// Where formatted lines go.
class Handler {
 public:
  virtual ~Handler() = default;
  /// Formats the record with the current formatter and writes it.
  void handle(const Record& record);
  [[nodiscard]] const std::shared_ptr<const Formatter>& formatter() const noexcept {
    return formatter_;
  }
  void set_formatter(std::shared_ptr<const Formatter> formatter) {
    formatter_ = std::move(formatter);
  }

 protected:
  /// Writes one formatted message; `text` carries no line end.
  virtual void write_line(const std::string& text) = 0;

 private:
  std::shared_ptr<const Formatter> formatter_ = std::make_shared<Formatter>("{message}");
};

class LinePrinter;

/// A handler that writes each message through a printer of standard error.
class StandardErrorHandler : public Handler {
 public:
  /// `printer` must outlive the handler.
  explicit StandardErrorHandler(LinePrinter& printer) : printer_(printer) {}

 protected:
  void write_line(const std::string& text) override;

 private:
  LinePrinter& printer_;
};

/// Source of the time stamp of each message; tests put a fixed clock here.
class Clock {
 public:
  virtual ~Clock() = default;
  [[nodiscard]] virtual std::chrono::system_clock::time_point now() const = 0;
};

/// Replaces the clock used for new records; nullptr restores the system clock.
void set_clock(std::shared_ptr<const Clock> clock);

/// The text a log argument is shown as; overloads give each type its rendering.
std::string to_log_text(std::string_view text);
std::string to_log_text(const char* text);
std::string to_log_text(const std::string& text);
std::string to_log_text(const std::filesystem::path& path);
std::string to_log_text(bool value);
std::string to_log_text(double value);
std::string to_log_text(const nlohmann::ordered_json& value);
std::string to_log_text(const nlohmann::json& value);

/// A document shown over several indented lines in a message, rendered only when it is written.
struct Readable {
  const nlohmann::ordered_json& document;
};
std::string to_log_text(const Readable& readable);
template <class Integer>
requires std::is_integral_v<Integer> &&
    (!std::is_same_v<Integer, bool>)&&(!std::is_same_v<Integer, char>)std::string
    to_log_text(Integer value) {
  return std::to_string(value);
}
template <class T>
std::string to_log_text(const std::optional<T>& value) {
  return value ? to_log_text(*value) : std::string("None");
}
std::string to_log_text(std::nullopt_t);

namespace detail {

/// Every argument reaches the message as the text `to_log_text` gives it.
template <class Argument>
using Shown = std::string_view;

/// The replacement fields of a message text: each "{" that does not stand for a brace ("{{").
consteval std::size_t replacement_fields(std::string_view text) {
  std::size_t fields = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '{') continue;
    if (i + 1 < text.size() && text[i + 1] == '{')
      ++i;
    else
      ++fields;
  }
  return fields;
}

// Not constexpr: calling it while a message text is checked stops the compilation there.
void message_has_not_one_field_per_argument();

}  // namespace detail

/// Who issues a message, as the debug layout's function-name field shows it: the function whose
/// code issues it, unless a step done for another names that one (a helper of `main` issues its
/// messages as `main`'s, the scan as the pass it stands for).
class Issuer {
 public:
  /// `name` (a literal: it must outlive every message), or by default the function that makes
  /// the issuer; as a default argument (`log::Issuer caller = log::Issuer()`), the caller.
  // The compiler's own bare name of the function (GCC and Clang), so no signature is taken
  // apart. In a lambda it is "operator()" and in a function template GCC adds the template's
  // arguments: messages there are issued by the enclosing function's issuer.
  constexpr explicit Issuer(std::string_view name = __builtin_FUNCTION()) noexcept : name_(name) {}
  [[nodiscard]] constexpr std::string_view name() const noexcept { return name_; }

 private:
  std::string_view name_;
};

/// A message text checked at compile time against the arguments of the call: one "{}" per
/// argument, filled in order ("{{" and "}}" are braces), and who issues it.
template <class... Arguments>
class FormatString {
 public:
  /// The text, issued by the function where it stands.
  template <class Text>
  requires std::is_convertible_v<const Text&, std::string_view>
  consteval FormatString(const Text& text, std::string_view function = __builtin_FUNCTION())
      : text_(text), issuer_(function) {
    // fmt refuses a field without an argument and a malformed field; an argument without a field
    // it lets pass, which here would be a value silently missing from the message.
    static_cast<void>(fmt::format_string<detail::Shown<Arguments>...>(text_));
    if (detail::replacement_fields(text_) != sizeof...(Arguments))
      detail::message_has_not_one_field_per_argument();
  }
  /// The same text issued by `issuer`: `logger.info({caller, "Writing {}"}, path)`.
  constexpr FormatString(Issuer issuer, const FormatString& format) noexcept
      : text_(format.text_), issuer_(issuer) {}

  [[nodiscard]] std::string_view text() const noexcept { return text_; }
  [[nodiscard]] Issuer issuer() const noexcept { return issuer_; }

 private:
  std::string_view text_;
  Issuer issuer_;
};

/// The format of a message with `Arguments`, as a parameter that a message text converts to.
template <class... Arguments>
using FormatFor = FormatString<std::type_identity_t<Arguments>...>;

/// A named logger of the tree; module loggers have no level or handler of their own.
class Logger {
 public:
  Logger(std::string name, Logger* parent);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  [[nodiscard]] const std::string& name() const noexcept { return name_; }
  /// Own level, or the nearest ancestor's; the root has WARNING.
  [[nodiscard]] int effective_level() const;
  /// Sets the logger's own level.
  void set_level(int level) { level_ = level; }
  /// Whether a message of `level` issued here would be written.
  [[nodiscard]] bool is_enabled_for(int level) const { return level >= effective_level(); }

  void add_handler(std::shared_ptr<Handler> handler) { handlers_.push_back(std::move(handler)); }
  void remove_handler(const std::shared_ptr<Handler>& handler);
  [[nodiscard]] const std::vector<std::shared_ptr<Handler>>& handlers() const noexcept {
    return handlers_;
  }

  /// Issues a message at `level`; the arguments are rendered only when the level passes.
  template <class... Arguments>
  void log(int level, FormatFor<Arguments...> format, const Arguments&... arguments) {
    if (!is_enabled_for(level)) return;
    emit(level, format.text(), format.issuer(), {to_log_text(arguments)...});
  }
  /// The same at the named levels.
  template <class... Arguments>
  void debug(FormatFor<Arguments...> format, const Arguments&... arguments) {
    log(DEBUG, format, arguments...);
  }
  template <class... Arguments>
  void info(FormatFor<Arguments...> format, const Arguments&... arguments) {
    log(INFO, format, arguments...);
  }
  template <class... Arguments>
  void warning(FormatFor<Arguments...> format, const Arguments&... arguments) {
    log(WARNING, format, arguments...);
  }
  template <class... Arguments>
  void error(FormatFor<Arguments...> format, const Arguments&... arguments) {
    log(ERROR, format, arguments...);
  }
  template <class... Arguments>
  void critical(FormatFor<Arguments...> format, const Arguments&... arguments) {
    log(CRITICAL, format, arguments...);
  }

 private:
  friend class HeldMessages;
  void emit(int level, std::string_view format, Issuer issuer,
            const std::vector<std::string>& arguments);
  // Hands a record to the handlers of this logger and its ancestors.
  void dispatch(const Record& record);

  std::string name_;
  Logger* parent_;
  std::optional<int> level_;
  std::vector<std::shared_ptr<Handler>> handlers_;
};

/// Messages held back instead of written: while a HoldMessages scope for it is alive on a thread,
/// every message issued on that thread is kept here, with its time stamp, until `release` writes
/// them in order through the handlers of the loggers that issued them. Lets work done on several
/// threads be logged in the order it would have had on one.
class HeldMessages {
 public:
  /// Writes the held messages in order and forgets them.
  void release();
  [[nodiscard]] bool empty() const noexcept { return held_.empty(); }

 private:
  friend class Logger;
  std::vector<std::pair<Logger*, Record>> held_;
};

/// Holds the messages of the current thread in `messages` for its lifetime (scopes nest).
class HoldMessages {
 public:
  explicit HoldMessages(HeldMessages& messages);
  ~HoldMessages();
  HoldMessages(const HoldMessages&) = delete;
  HoldMessages& operator=(const HoldMessages&) = delete;

 private:
  HeldMessages* previous_;
};

/// The logger of that dotted name, created with its ancestors on first use; "" is the root.
Logger& get_logger(std::string_view name);

/// The top logger of the system.
inline constexpr std::string_view TOP_LOGGER = "generator";

/// Attaches one more standard-error handler in the normal layout to "generator" and sets INFO.
void configure_logger();
/// One step towards more output (not below DEBUG), every handler switched to the debug layout.
void increase_logging_level();
/// One step towards less output (not above CRITICAL), every handler switched to the quiet layout.
void decrease_logging_level();
/// 50 - 10 * verbosity, with 3 for a count of 0 or none; not clamped.
int _get_logging_level(std::optional<int> verbosity);

}  // namespace generator::log
