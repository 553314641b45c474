// The controller's answers to the API token, login and account list requests (parts of the
// input in that order), and the list typed as the scan takes it, with account names looked up.

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/controller/controller.hpp"
#include "generator/generate/account_access.hpp"
#include "untrusted/secrets.hpp"

namespace {

class TypedPassword : public generator::controller::Terminal {
 public:
  std::string read_secret(const std::string&) override { return "fuzz-password"; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::log_everything_quietly();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each input is a run of its own: the secrets of earlier ones would only pile up.
  untrusted::forget_secrets();
  generator::config::Config config;
  config.controller.ip = "controller.invalid";
  config.controller.username = "admin";
  auto controller = fuzz::scripted_http(fuzz::split_parts(fuzz::as_text(data, size), 3));
  TypedPassword terminal;
  try {
    const auto accounts = generator::generate::ControllerAccounts::from_answer(
        generator::controller::get_account_list(config, controller, terminal));
    for (const char* account_id : {"012345678901", "123456789012"})
      (void)accounts.name_of(account_id);
  } catch (const generator::Error&) {
  }
  return 0;
}
