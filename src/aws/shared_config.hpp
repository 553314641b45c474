#pragma once

// The shared AWS config file (~/.aws/config) and credentials file (~/.aws/credentials).

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "aws/environment.hpp"

namespace aws {

/// The settings of one profile, by key.
using ProfileSettings = std::map<std::string, std::string>;

/// Both files as read for one process.
struct SharedConfig {
  std::filesystem::path config_file;       // AWS_CONFIG_FILE or ~/.aws/config
  std::filesystem::path credentials_file;  // AWS_SHARED_CREDENTIALS_FILE or ~/.aws/credentials
  std::map<std::string, ProfileSettings> config_profiles;       // "[profile x]" and "[default]"
  std::map<std::string, ProfileSettings> credentials_profiles;  // "[x]"
  std::map<std::string, ProfileSettings> sso_sessions;          // "[sso-session x]" of config
  std::map<std::string, ProfileSettings> services;              // "[services x]" of config
  /// AWS_PROFILE, else "default".
  std::string profile_name;
  /// Whether AWS_PROFILE named the profile (then it must exist).
  bool profile_named_explicitly = false;

  /// The profile's settings with the credentials file's values over the config file's; nothing
  /// when neither file has the profile.
  [[nodiscard]] std::optional<ProfileSettings> profile(const std::string& name) const;
  /// One setting of the config file's profile `name`; nothing when it is absent or empty.
  [[nodiscard]] std::optional<std::string> config_value(const std::string& name,
                                                        const std::string& key) const;
};

/// The most bytes read of any file the sign-in reads (the shared files, token files, the IAM
/// Identity Center token cache): real ones hold a few kilobytes.
inline constexpr std::size_t MAX_SIGN_IN_FILE_BYTES = std::size_t{1} << 20;

/// What the file at `path` holds; nothing when it cannot be opened (missing, unreadable, a
/// folder). ClientError "Cannot read <path>: it is larger than 1 MiB, the limit of <what>" when it
/// holds more than MAX_SIGN_IN_FILE_BYTES, found without reading on; ClientError "Cannot read
/// <path>: it is a named pipe, not a regular file (<what>)" for a named pipe or a device, found
/// without waiting on it (the null device reads as empty).
[[nodiscard]] std::optional<std::string> read_sign_in_file(const std::filesystem::path& path,
                                                           const std::string& what);

/// Reads both files; a missing file is an empty one, an unreadable line or a file above
/// MAX_SIGN_IN_FILE_BYTES a ClientError naming the file.
[[nodiscard]] SharedConfig load_shared_config(const Environment& environment);

/// The value of `key` in `settings`; nothing when it is absent or empty.
[[nodiscard]] std::optional<std::string> setting(const ProfileSettings& settings,
                                                 const std::string& key);

/// `path` with a leading "~/" taken as the home folder (HOME), as the AWS tools read paths of
/// these files and variables.
[[nodiscard]] std::filesystem::path expand_home(const std::string& path,
                                                const Environment& environment);

/// `relative` inside the AWS folder of the home folder (~/.aws/config, ~/.aws/sso/cache/...).
[[nodiscard]] std::filesystem::path aws_home_file(const Environment& environment,
                                                  const std::filesystem::path& relative);

/// Which of the two files a text is: they name their profiles differently.
enum class ProfileFileKind { config, credentials };

/// The sections of one file as the AWS tools read them.
struct ProfileFile {
  /// "[profile x]" and "[default]" of the config file ("[profile default]" wins), "[x]" of the
  /// credentials file.
  std::map<std::string, ProfileSettings> profiles;
  std::map<std::string, ProfileSettings> sso_sessions;  // "[sso-session x]", config file only
  std::map<std::string, ProfileSettings> services;      // "[services x]", config file only
};

/// One file read as the AWS tools read it: "[name]" headers and "key = value" lines, whole-line
/// "#" and ";" comments and, after a blank, trailing ones; indented lines continue the value above
/// (of a key without value: its sub-settings, kept as "\nname = value" lines). Key names are
/// taken in lower case; sections and keys with names the tools refuse (a blank, "!") are passed
/// over, as are sections of a form the file does not use. ClientError "<file>, line N: ..." for a
/// line that cannot be read.
[[nodiscard]] ProfileFile parse_profile_file(const std::string& text, const std::string& file_name,
                                             ProfileFileKind kind);

/// Both files read from their texts, as load_shared_config reads them from the files named;
/// AWS_PROFILE from `environment`.
[[nodiscard]] SharedConfig shared_config_from_texts(const Environment& environment,
                                                    std::filesystem::path config_file,
                                                    const std::string& config_text,
                                                    std::filesystem::path credentials_file,
                                                    const std::string& credentials_text);

/// The sub-settings of a setting written as an indented block ("ec2 =" then "  endpoint_url =
/// ..."), by lower-case name.
[[nodiscard]] ProfileSettings sub_settings(const std::string& value);

}  // namespace aws
