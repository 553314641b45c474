#pragma once

// Stand-ins for the outside world of the AWS layer: the scripted HTTP client of the test support,
// a sleeper that records pauses, and a context made of them.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "aws/context.hpp"
#include "http/http.hpp"
#include "support/scripted_http.hpp"

namespace aws::testing {

/// The scripted HTTP peer of the tests, here built with one function that answers every request.
using generator::test_support::ScriptedHttp;

/// Records the pauses asked for instead of waiting.
class RecordingSleeper : public Sleeper {
 public:
  void sleep_for(std::chrono::milliseconds duration) override { pauses.push_back(duration); }
  std::vector<std::chrono::milliseconds> pauses;
};

/// The form fields of a request body, decoded.
std::map<std::string, std::string> form_fields(const std::string& body);

/// The value of the first header of that name (any letter case), or "".
std::string header(const http::Request& request, const std::string& name);

/// A context with fixed variables, the client given, a recording sleeper, random 0.5 and a fixed
/// clock (2015-08-30T12:36:00Z).
Context make_context(
    std::map<std::string, std::string> variables, std::shared_ptr<http::Client> client,
    std::shared_ptr<RecordingSleeper> sleeper = std::make_shared<RecordingSleeper>());

/// An HTTP answer with status and body.
http::Response answer(long status, std::string body);

}  // namespace aws::testing
