// Drives the controller session from the command line for the script tests:
//   controller_driver password <ip> <username>      prints the password as a JSON text
//   controller_driver password-on-a-thread <ip> <username>
//                                                   the same, asked on a thread of its own while
//                                                   the main thread waits, as a scanning thread
//                                                   asks for an MFA code during a long run
//   controller_driver accounts <ip> <username>      prints the account list, logging at DEBUG

#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "generator/cli/program.hpp"
#include "generator/common/errors.hpp"
#include "generator/controller/controller.hpp"
#include "generator/log/log.hpp"

int main(int argc, char** argv) {
  return generator::cli::run_program(
      argc, argv, [](const std::vector<std::string>& args, const std::string&) {
        const bool known = args.size() == 3 && (args[0] == "password" || args[0] == "accounts" ||
                                                args[0] == "password-on-a-thread");
        if (!known) {
          throw generator::ValueError(
              "usage: controller_driver password|password-on-a-thread|accounts <ip> <username>");
        }
        generator::config::Config config;
        config.controller.ip = args[1];
        config.controller.username = args[2];
        if (args[0] == "password") {
          std::cout
              << nlohmann::ordered_json(generator::controller::_get_hvn_password(config)).dump()
              << std::endl;
          return;
        }
        if (args[0] == "password-on-a-thread") {
          std::string password;
          std::exception_ptr failure;
          std::thread asking([&] {
            try {
              password = generator::controller::_get_hvn_password(config);
            } catch (...) {
              failure = std::current_exception();
            }
          });
          asking.join();
          if (failure) std::rethrow_exception(failure);
          std::cout << nlohmann::ordered_json(password).dump() << std::endl;
          return;
        }
        generator::log::increase_logging_level();
        std::cout << generator::controller::get_account_list(config).dump() << std::endl;
      });
}
