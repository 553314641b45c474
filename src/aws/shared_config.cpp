#include "aws/shared_config.hpp"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "aws/errors.hpp"
#include "base/files/input_file.hpp"
#include "base/text/ascii.hpp"

namespace aws {

namespace {

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::optional<std::string> read_sign_in_file(const std::filesystem::path& path,
                                             const std::string& what) {
  std::optional<base::files::InputFile> file;
  try {
    file = base::files::InputFile::open_if_present(path);
  } catch (const base::files::InputFileError& error) {
    // A named pipe or a device would hold the sign-in up, or feed it without end.
    if (error.problem() == base::files::InputProblem::not_a_file)
      throw ClientError(std::string(error.what()) + " (" + what + ")");
    return std::nullopt;
  }
  if (!file) return std::nullopt;
  std::optional<std::string> text;
  try {
    text = file->read_up_to(MAX_SIGN_IN_FILE_BYTES);
  } catch (const base::files::InputFileError&) {
    return std::nullopt;
  }
  if (!text) {
    throw ClientError("Cannot read " + path.string() + ": it is larger than " +
                      std::to_string(MAX_SIGN_IN_FILE_BYTES >> 20) + " MiB, the limit of " + what);
  }
  return text;
}

std::optional<std::string> setting(const ProfileSettings& settings, const std::string& key) {
  const auto found = settings.find(key);
  if (found == settings.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

std::filesystem::path expand_home(const std::string& path, const Environment& environment) {
  if (path.starts_with("~/"))
    return std::filesystem::path(environment.get("HOME").value_or("")) / path.substr(2);
  return path;
}

std::filesystem::path aws_home_file(const Environment& environment,
                                    const std::filesystem::path& relative) {
  return std::filesystem::path(environment.get("HOME").value_or("")) / ".aws" / relative;
}

namespace {

bool starts_with_blank(std::string_view line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

// The names the AWS tools take for profiles, sections and keys.
bool is_identifier(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || std::string_view("_-/.%@:+").find(static_cast<char>(c)) !=
                                  std::string_view::npos;
  });
}

// The rest of `header` after `word` and at least one blank, trimmed; nothing when it does not
// start so.
std::optional<std::string> after_word(std::string_view header, std::string_view word) {
  if (!header.starts_with(word) || !starts_with_blank(header.substr(word.size())))
    return std::nullopt;
  return trimmed(header.substr(word.size()));
}

// Reads one file line by line; each line either opens a section, sets a key or continues the
// value of the key above it.
class ProfileFileReader {
 public:
  ProfileFileReader(std::string file_name, ProfileFileKind kind)
      : file_name_(std::move(file_name)), kind_(kind) {}

  void read_line(std::string_view line, int number) {
    number_ = number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (trimmed(line).empty() || line.front() == '#' || line.front() == ';') return;
    if (line.front() == '[') {
      open_section(line);
    } else if (starts_with_blank(line)) {
      continue_value(line);
    } else {
      set_key(line);
    }
  }

  ProfileFile finish() && {
    // "[profile default]" anywhere in the config file wins over "[default]".
    if (bare_default_seen_) file_.profiles.try_emplace("default", std::move(bare_default_));
    return std::move(file_);
  }

 private:
  [[noreturn]] void fail(const std::string& reason) const {
    throw ClientError(file_name_ + ", line " + std::to_string(number_) + ": " + reason);
  }

  void open_section(std::string_view line) {
    const std::string header = trimmed(line.substr(0, line.find_first_of("#;")));
    if (!header.ends_with(']')) fail("Profile definition must end with ']'");
    const std::string name = trimmed(std::string_view(header).substr(1, header.size() - 2));
    section_ = nullptr;
    value_ = nullptr;
    skipping_key_ = false;
    if (kind_ == ProfileFileKind::config && name == "default") {
      bare_default_seen_ = true;
      section_ = &bare_default_;
      return;
    }
    // A section the file does not use, or one with a name the tools refuse, is read and
    // dropped, its settings with it.
    section_ = &dropped_;
    const auto enter = [&](std::map<std::string, ProfileSettings>& sections,
                           const std::optional<std::string>& section_name) {
      if (!section_name) return false;
      if (is_identifier(*section_name)) section_ = &sections[*section_name];
      return true;
    };
    if (kind_ == ProfileFileKind::credentials) {
      // "[profile x]" is the config file's form: the credentials file drops it.
      if (!after_word(name, "profile")) (void)enter(file_.profiles, name);
      return;
    }
    (void)(enter(file_.profiles, after_word(name, "profile")) ||
           enter(file_.sso_sessions, after_word(name, "sso-session")) ||
           enter(file_.services, after_word(name, "services")));
  }

  void set_key(std::string_view line) {
    if (section_ == nullptr) fail("Expected a profile definition");
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) fail("Expected an '=' sign defining a property");
    const std::string key = trimmed(line.substr(0, equals));
    if (key.empty()) fail("Property did not have a name");
    std::string_view value = line.substr(equals + 1);
    // A comment after a value needs a blank before it: "a;b" is a value.
    std::size_t comment = std::string_view::npos;
    for (const char* mark : {" #", " ;", "\t#", "\t;"}) comment = std::min(comment, value.find(mark));
    value = value.substr(0, comment);
    skipping_key_ = !is_identifier(key);
    if (skipping_key_) {
      value_ = nullptr;
      return;
    }
    value_ = &(*section_)[base::text::lower_case(key)];
    *value_ = trimmed(value);
    // A key without a value opens a block of sub-settings, each of them "name = value".
    sub_settings_ = value_->empty();
  }

  void continue_value(std::string_view line) {
    if (skipping_key_) return;
    if (section_ == nullptr) fail("Expected a profile definition, found continuation");
    if (value_ == nullptr) fail("Expected a property definition, found continuation");
    const std::string content = trimmed(line);
    if (sub_settings_) {
      const auto equals = content.find('=');
      if (equals == std::string::npos) fail("Expected an '=' sign defining a sub-property");
      if (trimmed(std::string_view(content).substr(0, equals)).empty())
        fail("Sub-property did not have a name");
    }
    *value_ += "\n" + content;
  }

  std::string file_name_;
  ProfileFileKind kind_;
  int number_ = 0;
  ProfileFile file_;
  ProfileSettings bare_default_;
  bool bare_default_seen_ = false;
  ProfileSettings dropped_;
  ProfileSettings* section_ = nullptr;
  std::string* value_ = nullptr;
  bool skipping_key_ = false;
  bool sub_settings_ = false;
};

}  // namespace

ProfileFile parse_profile_file(const std::string& text, const std::string& file_name,
                               ProfileFileKind kind) {
  ProfileFileReader reader(file_name, kind);
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) reader.read_line(line, number);
  return std::move(reader).finish();
}

ProfileSettings sub_settings(const std::string& value) {
  ProfileSettings settings;
  std::istringstream lines(value);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    settings[base::text::lower_case(trimmed(std::string_view(line).substr(0, equals)))] =
        trimmed(std::string_view(line).substr(equals + 1));
  }
  return settings;
}

std::optional<ProfileSettings> SharedConfig::profile(const std::string& name) const {
  std::optional<ProfileSettings> merged;
  if (const auto found = config_profiles.find(name); found != config_profiles.end())
    merged = found->second;
  if (const auto found = credentials_profiles.find(name); found != credentials_profiles.end()) {
    if (!merged) merged.emplace();
    for (const auto& [key, value] : found->second) (*merged)[key] = value;
  }
  return merged;
}

std::optional<std::string> SharedConfig::config_value(const std::string& name,
                                                      const std::string& key) const {
  const auto found = config_profiles.find(name);
  if (found == config_profiles.end()) return std::nullopt;
  return setting(found->second, key);
}

SharedConfig shared_config_from_texts(const Environment& environment,
                                      std::filesystem::path config_file,
                                      const std::string& config_text,
                                      std::filesystem::path credentials_file,
                                      const std::string& credentials_text) {
  SharedConfig config;
  config.config_file = std::move(config_file);
  config.credentials_file = std::move(credentials_file);
  config.profile_named_explicitly = environment.get("AWS_PROFILE").has_value();
  config.profile_name = environment.get("AWS_PROFILE").value_or("default");
  ProfileFile config_sections =
      parse_profile_file(config_text, config.config_file.string(), ProfileFileKind::config);
  config.config_profiles = std::move(config_sections.profiles);
  config.sso_sessions = std::move(config_sections.sso_sessions);
  config.services = std::move(config_sections.services);
  config.credentials_profiles =
      parse_profile_file(credentials_text, config.credentials_file.string(),
                         ProfileFileKind::credentials)
          .profiles;
  return config;
}

SharedConfig load_shared_config(const Environment& environment) {
  const std::filesystem::path config_file =
      environment.get("AWS_CONFIG_FILE")
          ? expand_home(*environment.get("AWS_CONFIG_FILE"), environment)
          : aws_home_file(environment, "config");
  const std::filesystem::path credentials_file =
      environment.get("AWS_SHARED_CREDENTIALS_FILE")
          ? expand_home(*environment.get("AWS_SHARED_CREDENTIALS_FILE"), environment)
          : aws_home_file(environment, "credentials");
  return shared_config_from_texts(
      environment, config_file,
      read_sign_in_file(config_file, "the shared config file").value_or(""), credentials_file,
      read_sign_in_file(credentials_file, "the shared credentials file").value_or(""));
}

}  // namespace aws
