#include "aws/context.hpp"

#include <mutex>
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

// Pauses that end early when the work is called off; the next request then ends at once.
class CancellableSleeper : public Sleeper {
 public:
  explicit CancellableSleeper(std::shared_ptr<const http::Cancellation> cancellation)
      : cancellation_(std::move(cancellation)) {}
  void sleep_for(std::chrono::milliseconds duration) override {
    (void)cancellation_->wait_for(duration);
  }

 private:
  std::shared_ptr<const http::Cancellation> cancellation_;
};

// One jitter source for the whole process, drawn from by every thread in turn.
std::function<double()> shared_random() {
  struct Source {
    std::mutex mutex;
    std::mt19937_64 generator{std::random_device{}()};
  };
  auto source = std::make_shared<Source>();
  return [source] {
    const std::lock_guard lock(source->mutex);
    return std::uniform_real_distribution<double>(0.0, 1.0)(source->generator);
  };
}

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
  context.transport = transport;
  context.http = std::make_shared<http::CurlClient>(transport);
  context.sleeper = std::make_shared<ThreadSleeper>();
  context.random = shared_random();
  context.now = [] { return std::chrono::system_clock::now(); };
  return context;
}

Context Context::for_worker(std::shared_ptr<const http::Cancellation> cancellation) const {
  Context context = *this;
  context.http = std::make_shared<http::CurlClient>(transport, cancellation);
  context.sleeper = std::make_shared<CancellableSleeper>(std::move(cancellation));
  return context;
}

}  // namespace aws
