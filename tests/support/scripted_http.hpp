#pragma once

// The HTTP peer as tests and fuzz targets play it: answers from a script, and every request kept.

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "http/http.hpp"

namespace generator::test_support {

/// An http::Client that answers from a script and keeps a copy of every request, in order. The
/// script is a queue of steps (an answer or a transport failure for each request in turn), or one
/// function that answers every request.
class ScriptedHttp : public http::Client {
 public:
  using Answer = std::function<http::Response(const http::Request&)>;

  /// Answers from the steps queued with answer() and fail().
  ScriptedHttp() = default;
  /// Answers every request with what `answer` makes of it.
  explicit ScriptedHttp(Answer answer) : answer_(std::move(answer)) {}

  /// Queues an answer with this status and body.
  void answer(long status, std::string body) {
    steps_.emplace_back(http::Response{status, {}, std::move(body)});
  }
  /// Queues a transport failure with this message (curl's "could not connect").
  void fail(const std::string& message) {
    steps_.emplace_back(http::TransportError(message, COULD_NOT_CONNECT, false));
  }
  /// A request past the queued steps fails as fail(message) would, instead of being a fault of the
  /// test (std::logic_error), for code that has to meet a peer that stops answering.
  void fail_when_used_up(std::string message) { used_up_ = std::move(message); }

  http::Response send(const http::Request& request) override {
    requests.push_back(request);
    if (answer_) return answer_(request);
    if (steps_.empty()) {
      if (used_up_) throw http::TransportError(*used_up_, COULD_NOT_CONNECT, false);
      throw std::logic_error("unexpected request to " + request.url);
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    if (auto* error = std::get_if<http::TransportError>(&step)) throw *error;
    return std::get<http::Response>(std::move(step));
  }

  /// Every request sent so far, oldest first.
  std::vector<http::Request> requests;

 private:
  // libcurl's code for a connection that could not be made, without including curl here.
  static constexpr int COULD_NOT_CONNECT = 7;

  using Step = std::variant<http::Response, http::TransportError>;
  Answer answer_;
  std::deque<Step> steps_;
  std::optional<std::string> used_up_;
};

}  // namespace generator::test_support
