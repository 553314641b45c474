// The shared AWS config and credentials files (the first two parts of the input), resolved into
// credentials and the STS endpoint as generate does; the further parts answer the requests this
// makes (AssumeRole, metadata). A profile that would run a command is skipped: the fuzzer must not
// run what it writes.

#include "aws/shared_config.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "aws/credentials.hpp"
#include "aws/errors.hpp"
#include "aws/sts.hpp"
#include "fuzz_support.hpp"
#include "untrusted/secrets.hpp"

namespace {

// A file in memory that the readers open by its /proc path.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : descriptor_(::memfd_create(name, 0)) {
    if (descriptor_ < 0) std::abort();
  }
  void hold(std::string_view text) const {
    if (::ftruncate(descriptor_, 0) != 0 ||
        ::pwrite(descriptor_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
      std::abort();
    }
  }
  [[nodiscard]] std::string path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

 private:
  int descriptor_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each input is a run of its own: the secrets of earlier ones would only pile up.
  untrusted::forget_secrets();
  const std::string_view input = fuzz::as_text(data, size);
  if (input.find("credential_process") != std::string_view::npos) return 0;
  static const MemoryFile config_file("config");
  static const MemoryFile credentials_file("credentials");
  std::vector<std::string> parts = fuzz::split_parts(input, 12);
  parts.resize(std::max<std::size_t>(parts.size(), 2));
  config_file.hold(parts[0]);
  credentials_file.hold(parts[1]);
  const std::vector<std::string> answers(parts.begin() + 2, parts.end());

  const aws::Context context =
      fuzz::scripted_aws_context({{"HOME", "/nonexistent"},
                                  {"AWS_CONFIG_FILE", config_file.path()},
                                  {"AWS_SHARED_CREDENTIALS_FILE", credentials_file.path()},
                                  {"AWS_EC2_METADATA_SERVICE_ENDPOINT", "http://metadata.invalid"}},
                                 answers);
  try {
    const aws::StsClient sts = aws::make_default_sts_client(context);
    (void)sts.assume_role({"arn:aws:iam::012345678901:role/fuzz", "fuzz", std::nullopt, 900});
  } catch (const aws::Error&) {
  }
  return 0;
}
