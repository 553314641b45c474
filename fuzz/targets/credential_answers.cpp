// What credential sources print or answer: credential_process output (the first part of the
// input), then the container credentials endpoint's and the instance metadata service's answers
// (the further parts, served in order to each).

#include "aws/credentials.hpp"
#include "aws/errors.hpp"
#include "fuzz_support.hpp"
#include "untrusted/secrets.hpp"

namespace {

void resolve_with(std::map<std::string, std::string> variables,
                  const std::vector<std::string>& answers) {
  variables["HOME"] = "/nonexistent";
  const aws::Context context = fuzz::scripted_aws_context(std::move(variables), answers);
  try {
    (void)aws::resolve_default_credentials(context);
  } catch (const aws::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each input is a run of its own: the secrets of earlier ones would only pile up.
  untrusted::forget_secrets();
  const std::vector<std::string> parts = fuzz::split_parts(fuzz::as_text(data, size), 8);
  try {
    (void)aws::read_credential_process_output(parts[0], "fuzz");
  } catch (const aws::Error&) {
  }
  const std::vector<std::string> answers(parts.begin() + 1, parts.end());
  resolve_with({{"AWS_CONTAINER_CREDENTIALS_FULL_URI", "http://127.0.0.1/credentials"}}, answers);
  resolve_with({{"AWS_EC2_METADATA_SERVICE_ENDPOINT", "http://metadata.invalid"}}, answers);
  return 0;
}
