#include "generator/log/log.hpp"

#include <fmt/args.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>

#include "generator/log/line_printer.hpp"
#include "untrusted/secrets.hpp"
#include "untrusted/untrusted.hpp"

namespace generator::log {

namespace {

class SystemClock : public Clock {
 public:
  [[nodiscard]] std::chrono::system_clock::time_point now() const override {
    return std::chrono::system_clock::now();
  }
};

std::shared_ptr<const Clock>& current_clock() {
  static std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
  return clock;
}

std::string format_asctime(std::chrono::system_clock::time_point time) {
  const auto since_epoch = time.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch - seconds).count();
  const std::time_t whole = seconds.count();
  std::tm local{};
  localtime_r(&whole, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return fmt::format("{},{:03d}", buffer, static_cast<int>(millis));
}

}  // namespace

const std::shared_ptr<const Formatter> DEBUG_FORMATTER =
    std::make_shared<Formatter>(LOG_DEBUG_FORMAT);
const std::shared_ptr<const Formatter> QUIET_FORMATTER =
    std::make_shared<Formatter>(LOG_QUIET_FORMAT);

std::string level_name(int level) {
  switch (level) {
    case NOTSET:
      return "NOTSET";
    case DEBUG:
      return "DEBUG";
    case INFO:
      return "INFO";
    case WARNING:
      return "WARNING";
    case ERROR:
      return "ERROR";
    case CRITICAL:
      return "CRITICAL";
    default:
      return fmt::format("Level {}", level);
  }
}

Formatter::Formatter(std::string_view layout) : layout_(layout) {}

std::string Formatter::format(const Record& record) const {
  std::string out;
  out.reserve(layout_.size() + record.message.size() + 32);
  for (std::size_t i = 0; i < layout_.size(); ++i) {
    if (layout_[i] == '{') {
      const auto close = layout_.find('}', i);
      if (close != std::string::npos) {
        const std::string_view field(layout_.data() + i + 1, close - i - 1);
        bool known = true;
        if (field == "name")
          out += record.logger_name;
        else if (field == "levelname")
          out += level_name(record.level);
        else if (field == "funcName")
          out += record.function_name;
        else if (field == "asctime")
          out += format_asctime(record.time);
        else if (field == "message")
          out += record.message;
        else
          known = false;
        if (known) {
          i = close;
          continue;
        }
      }
    }
    out += layout_[i];
  }
  return out;
}

void Handler::handle(const Record& record) { write_line(formatter_->format(record)); }

void StandardErrorHandler::write_line(const std::string& text) { printer_.print_line(text); }

void set_clock(std::shared_ptr<const Clock> clock) {
  current_clock() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

std::string to_log_text(std::string_view text) { return std::string(text); }
std::string to_log_text(const char* text) { return text ? std::string(text) : std::string("None"); }
std::string to_log_text(const std::string& text) { return text; }
std::string to_log_text(const std::filesystem::path& path) { return path.string(); }
std::string to_log_text(bool value) { return value ? "True" : "False"; }
std::string to_log_text(double value) { return fmt::format("{}", value); }
std::string to_log_text(std::nullopt_t) { return "None"; }
std::string to_log_text(const nlohmann::ordered_json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return "None";
  if (value.is_boolean()) return to_log_text(value.get<bool>());
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
namespace {

// Binary nodes carry dates and timestamps as their text; a log shows that text, not byte values.
bool holds_binary(const nlohmann::ordered_json& value) {
  if (value.is_binary()) return true;
  if (!value.is_structured()) return false;
  return std::any_of(value.begin(), value.end(),
                     [](const auto& element) { return holds_binary(element); });
}

nlohmann::ordered_json with_binary_as_text(const nlohmann::ordered_json& value) {
  if (value.is_binary()) {
    const auto& bytes = value.get_binary();
    const bool printable = std::all_of(
        bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F; });
    return printable ? nlohmann::ordered_json(std::string(bytes.begin(), bytes.end())) : value;
  }
  if (value.is_object()) {
    nlohmann::ordered_json copy = nlohmann::ordered_json::object();
    for (const auto& [key, element] : value.items()) copy[key] = with_binary_as_text(element);
    return copy;
  }
  if (value.is_array()) {
    nlohmann::ordered_json copy = nlohmann::ordered_json::array();
    for (const auto& element : value) copy.push_back(with_binary_as_text(element));
    return copy;
  }
  return value;
}

}  // namespace

std::string to_log_text(const Readable& readable) {
  constexpr auto replace_invalid = nlohmann::ordered_json::error_handler_t::replace;
  if (!holds_binary(readable.document))
    return readable.document.dump(2, ' ', false, replace_invalid);
  return with_binary_as_text(readable.document).dump(2, ' ', false, replace_invalid);
}
std::string to_log_text(const nlohmann::json& value) {
  return to_log_text(nlohmann::ordered_json(value));
}

Logger::Logger(std::string name, Logger* parent) : name_(std::move(name)), parent_(parent) {
  if (!parent_) level_ = WARNING;
}

int Logger::effective_level() const {
  for (const Logger* logger = this; logger; logger = logger->parent_) {
    if (logger->level_) return *logger->level_;
  }
  return WARNING;
}

void Logger::remove_handler(const std::shared_ptr<Handler>& handler) {
  std::erase(handlers_, handler);
}

namespace {

// The messages that the current thread holds back, if any.
thread_local HeldMessages* held_messages = nullptr;

}  // namespace

void Logger::emit(int level, std::string_view format, Issuer issuer,
                  const std::vector<std::string>& arguments) {
  // Arguments carry text from peers and files (a controller's reason, a workbook cell): their
  // control characters are escaped so that they cannot steer the terminal. Renderings of
  // documents span lines, so line breaks stay; text from peers has its own escaped where it is
  // read. Whatever echoed a secret of the run, it is replaced before the text is escaped (and
  // again in the whole message, where a secret may have been escaped or cut across arguments).
  fmt::dynamic_format_arg_store<fmt::format_context> shown;
  shown.reserve(arguments.size(), 0);
  for (const auto& argument : arguments)
    shown.push_back(untrusted::printable(untrusted::redact(argument), untrusted::LineBreaks::keep));
  // The format was checked against the arguments where the message was issued.
  Record record{name_, level, std::string(issuer.name()), current_clock()->now(),
                untrusted::redact(fmt::vformat(format, shown))};
  if (held_messages != nullptr) {
    held_messages->held_.emplace_back(this, std::move(record));
    return;
  }
  dispatch(record);
}

void Logger::dispatch(const Record& record) {
  bool handled = false;
  for (Logger* logger = this; logger; logger = logger->parent_) {
    for (const auto& handler : logger->handlers_) {
      handler->handle(record);
      handled = true;
    }
  }
  // With no handler anywhere, warnings and worse still reach the operator, bare.
  if (!handled && record.level >= WARNING) {
    standard_error().print_line(record.message);
  }
}

void HeldMessages::release() {
  for (auto& [logger, record] : held_) logger->dispatch(record);
  held_.clear();
}

HoldMessages::HoldMessages(HeldMessages& messages) : previous_(held_messages) {
  held_messages = &messages;
}

HoldMessages::~HoldMessages() { held_messages = previous_; }

Logger& get_logger(std::string_view name) {
  static std::recursive_mutex registry_mutex;
  static std::map<std::string, std::unique_ptr<Logger>, std::less<>> loggers;
  // Loggers are looked up from every scanning thread; creating one also creates its ancestors.
  const std::lock_guard lock(registry_mutex);
  if (auto found = loggers.find(name); found != loggers.end()) return *found->second;
  Logger* parent = nullptr;
  if (!name.empty()) {
    const auto dot = name.rfind('.');
    parent = &get_logger(dot == std::string_view::npos ? std::string_view() : name.substr(0, dot));
  }
  auto [inserted, unused] =
      loggers.emplace(std::string(name),
                      std::make_unique<Logger>(std::string(name.empty() ? "root" : name), parent));
  return *inserted->second;
}

void configure_logger() {
  Logger& logger = get_logger(TOP_LOGGER);
  auto stream_log = std::make_shared<StandardErrorHandler>(standard_error());
  stream_log->set_formatter(std::make_shared<Formatter>(LOG_FORMAT));
  logger.add_handler(std::move(stream_log));
  logger.set_level(INFO);
}

void increase_logging_level() {
  Logger& logger = get_logger(TOP_LOGGER);
  const int level = logger.effective_level();
  logger.set_level(level - 10 < DEBUG ? DEBUG : level - 10);
  for (const auto& handler : logger.handlers()) {
    if (handler->formatter() != DEBUG_FORMATTER) handler->set_formatter(DEBUG_FORMATTER);
  }
}

void decrease_logging_level() {
  Logger& logger = get_logger(TOP_LOGGER);
  const int level = logger.effective_level();
  logger.set_level(level + 10 > CRITICAL ? CRITICAL : level + 10);
  for (const auto& handler : logger.handlers()) {
    if (handler->formatter() != QUIET_FORMATTER) handler->set_formatter(QUIET_FORMATTER);
  }
}

int _get_logging_level(std::optional<int> verbosity) {
  const int v = (!verbosity || *verbosity == 0) ? 3 : *verbosity;
  return 50 - 10 * v;
}

}  // namespace generator::log
