#include "aws/context.hpp"

#include <random>
#include <thread>

namespace aws {

namespace {

class ThreadSleeper : public Sleeper {
 public:
  void sleep_for(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

http::TransportSettings Context::transport_settings() {
  http::TransportSettings transport;
  transport.connect_timeout = std::chrono::seconds(10);
  transport.stall_timeout = std::chrono::seconds(60);
  transport.request_timeout = std::chrono::minutes(5);
  transport.max_answer_bytes = std::size_t{64} << 20;
  transport.tls_verification = http::TlsVerification::verify;
  return transport;
}

Context Context::for_process(const http::TransportSettings& transport) {
  Context context;
  context.environment = Environment::process();
  context.http = std::make_shared<http::CurlClient>(transport);
  context.sleeper = std::make_shared<ThreadSleeper>();
  auto generator = std::make_shared<std::mt19937_64>(std::random_device{}());
  context.random = [generator] {
    return std::uniform_real_distribution<double>(0.0, 1.0)(*generator);
  };
  context.now = [] { return std::chrono::system_clock::now(); };
  return context;
}

}  // namespace aws
