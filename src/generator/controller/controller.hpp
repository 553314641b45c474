#pragma once

// The session with the Halvane Controller: the operator's password, the API token, the login and
// the list of AWS accounts the controller manages.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "generator/config/config.hpp"
#include "generator/controller/terminal.hpp"
#include "http/http.hpp"

namespace generator::controller {

/// The environment variable that holds the controller password; nothing else is read from the
/// environment.
inline constexpr std::string_view PASSWORD_VARIABLE = "halvane_controller_password";

/// The controller password: the environment variable when it is non-empty, otherwise the line the
/// operator types at the prompt "Halvane Controller <username>@<ip>'s password:" on `terminal`.
std::string _get_hvn_password(const config::Config& config, Terminal& terminal);

/// The same, prompting on the controlling terminal.
std::string _get_hvn_password(const config::Config& config);

/// Logs in to the controller of `config` through `client` and returns its account list exactly as
/// the controller sent it; a refused login fails with HalvaneError, and so does an answer that is
/// not JSON or lacks a member the session needs.
nlohmann::ordered_json get_account_list(const config::Config& config, http::Client& client,
                                        Terminal& terminal);

/// The same over libcurl, prompting on the controlling terminal.
nlohmann::ordered_json get_account_list(const config::Config& config);

/// The rendering of a controller answer for the debug log: every value that is a secret, by its
/// member name ("CID", "api_token", "password") or by being one of `secrets`, is masked.
std::string _masked_rendering(const nlohmann::ordered_json& answer,
                              const std::vector<std::string>& secrets);

}  // namespace generator::controller
