#include "aws/shared_config.hpp"

#include "aws/errors.hpp"
#include "base/files/input_file.hpp"

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

std::map<std::string, ProfileSettings> parse_profile_file(const std::string& text,
                                                          const std::string& file_name) {
  std::map<std::string, ProfileSettings> sections;
  ProfileSettings* current = nullptr;
  bool in_nested_block = false;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string content = trimmed(line);
    if (content.empty() || content.front() == '#' || content.front() == ';') continue;
    const bool indented = line.front() == ' ' || line.front() == '\t';
    if (indented && in_nested_block) continue;
    in_nested_block = false;
    if (content.front() == '[') {
      if (content.back() != ']') {
        throw ClientError(file_name + ", line " + std::to_string(number) +
                          ": a section header must end with ']'");
      }
      current = &sections[trimmed(std::string_view(content).substr(1, content.size() - 2))];
      continue;
    }
    const auto equals = content.find('=');
    if (equals == std::string::npos) {
      throw ClientError(file_name + ", line " + std::to_string(number) +
                        ": expected 'key = value'");
    }
    if (current == nullptr) {
      throw ClientError(file_name + ", line " + std::to_string(number) +
                        ": a setting outside any [section]");
    }
    const std::string key = trimmed(std::string_view(content).substr(0, equals));
    const std::string value = trimmed(std::string_view(content).substr(equals + 1));
    if (value.empty()) {
      // "s3 =" followed by indented lines is a nested block of another tool's settings.
      in_nested_block = true;
      continue;
    }
    (*current)[key] = value;
  }
  return sections;
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
  const auto value = found->second.find(key);
  if (value == found->second.end()) return std::nullopt;
  return value->second;
}

SharedConfig load_shared_config(const Environment& environment) {
  SharedConfig config;
  config.config_file = environment.get("AWS_CONFIG_FILE")
                           ? expand_home(*environment.get("AWS_CONFIG_FILE"), environment)
                           : aws_home_file(environment, "config");
  config.credentials_file =
      environment.get("AWS_SHARED_CREDENTIALS_FILE")
          ? expand_home(*environment.get("AWS_SHARED_CREDENTIALS_FILE"), environment)
          : aws_home_file(environment, "credentials");
  config.profile_named_explicitly = environment.get("AWS_PROFILE").has_value();
  config.profile_name = environment.get("AWS_PROFILE").value_or("default");

  // The config file names profiles "[profile x]", except "[default]".
  for (auto& [section, settings] : parse_profile_file(
           read_sign_in_file(config.config_file, "the shared config file").value_or(""),
           config.config_file.string())) {
    if (section == "default") {
      config.config_profiles.try_emplace("default", settings);
    } else if (section.starts_with("profile ")) {
      config.config_profiles[trimmed(std::string_view(section).substr(8))] = settings;
    } else if (section.starts_with("sso-session ")) {
      config.sso_sessions[trimmed(std::string_view(section).substr(12))] = settings;
    }
  }
  config.credentials_profiles = parse_profile_file(
      read_sign_in_file(config.credentials_file, "the shared credentials file").value_or(""),
      config.credentials_file.string());
  return config;
}

}  // namespace aws
