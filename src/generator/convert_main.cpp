#include "generator/cli/program.hpp"
#include "generator/convert/convert.hpp"

int main(int argc, char** argv) {
  return generator::cli::run_program(argc, argv, generator::convert::main,
                                     generator::convert::name_error_kind);
}
