// An IAM Identity Center sign-in: the token cache file that `aws sso login` left (the first part
// of the input), then the answers of SSO OIDC CreateToken and of the portal's GetRoleCredentials
// (the further parts, served in order).

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "aws/credentials.hpp"
#include "aws/errors.hpp"
#include "fuzz_support.hpp"
#include "untrusted/secrets.hpp"

namespace {

namespace fs = std::filesystem;

// A home folder of this process with a config file whose default profile signs in through the
// session "abc"; its token is cached under the SHA-1 of "abc".
struct Home {
  fs::path folder = fs::temp_directory_path() / ("fuzz-sso-" + std::to_string(::getpid()));
  fs::path cache_file = folder / ".aws/sso/cache/a9993e364706816aba3e25717850c26c9cd0d89d.json";

  Home() {
    fs::create_directories(cache_file.parent_path());
    std::ofstream(folder / "config")
        << "[sso-session abc]\nsso_start_url = https://corp.awsapps.com/start\n"
           "sso_region = eu-west-1\n"
           "[default]\nsso_session = abc\nsso_account_id = 111111111111\nsso_role_name = Admin\n";
  }
  ~Home() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each input is a run of its own: the secrets of earlier ones would only pile up.
  untrusted::forget_secrets();
  static const Home home;
  const std::vector<std::string> parts = fuzz::split_parts(fuzz::as_text(data, size), 4);
  std::ofstream(home.cache_file, std::ios::binary | std::ios::trunc) << parts[0];

  const aws::Context context =
      fuzz::scripted_aws_context({{"HOME", home.folder.string()},
                                  {"AWS_CONFIG_FILE", (home.folder / "config").string()},
                                  {"AWS_SHARED_CREDENTIALS_FILE", "/nonexistent"}},
                                 std::vector<std::string>(parts.begin() + 1, parts.end()));
  try {
    (void)aws::resolve_default_credentials(context);
  } catch (const aws::Error&) {
  }
  return 0;
}
