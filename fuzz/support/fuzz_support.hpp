#pragma once

// What every fuzz target shares: the input split into its parts, a quiet debug log, an HTTP
// transport that answers from the input, and an AWS context around it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "aws/context.hpp"
#include "http/http.hpp"
#include "support/scripted_http.hpp"

namespace fuzz {

/// The line that separates the parts of one input ("answer one\n%%%%\nanswer two").
inline constexpr std::string_view PART_SEPARATOR = "\n%%%%\n";

/// The input as text.
std::string_view as_text(const std::uint8_t* data, std::size_t size);

/// The parts of `input` between separators; at most `max_parts`, the last one takes the rest.
std::vector<std::string> split_parts(std::string_view input, std::size_t max_parts);

/// Turns the "generator" logger tree up to DEBUG with a handler that formats every message and
/// drops it, so that debug renderings of hostile input run too without filling the terminal.
void log_everything_quietly();

/// The test support's scripted HTTP peer with `answers` queued in order, and a transport failure
/// once they are used up. An answer may start with a status line "HTTP <status>\n"; otherwise it
/// is a 200.
generator::test_support::ScriptedHttp scripted_http(const std::vector<std::string>& answers);

/// An AWS context with exactly `variables` as its environment, `answers` served by scripted_http,
/// no pause between retries, a fixed jitter and a clock that stands at 2024-10-04.
aws::Context scripted_aws_context(std::map<std::string, std::string> variables,
                                  std::vector<std::string> answers);

}  // namespace fuzz
