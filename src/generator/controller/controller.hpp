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

/// The largest controller answer read.
inline constexpr std::size_t MAX_ANSWER_BYTES = std::size_t{16} << 20;

/// How every controller request travels: the certificate checked against `settings.ca_file` or
/// pinned to `settings.certificate_sha256` when one is given and not checked otherwise, each
/// request limited to `settings.timeout`, answers capped at MAX_ANSWER_BYTES.
http::TransportSettings transport_settings(const config::ControllerSettings& settings);

/// The same over libcurl with `transport`, prompting on the controlling terminal.
nlohmann::ordered_json get_account_list(const config::Config& config,
                                        const http::TransportSettings& transport);

/// The same with the transport the configuration asks for.
nlohmann::ordered_json get_account_list(const config::Config& config);

/// The rendering of a controller answer for the debug log: every value that is a secret, by its
/// member name ("CID", "api_token", "password") or by being one of `secrets`, is masked.
std::string _masked_rendering(const nlohmann::ordered_json& answer,
                              const std::vector<std::string>& secrets);

}  // namespace generator::controller
