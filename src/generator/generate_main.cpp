#include "generator/cli/program.hpp"
#include "generator/generate/generate.hpp"

int main(int argc, char** argv) {
  return generator::cli::run_program(argc, argv, generator::generate::main,
                                     generator::generate::name_error_kind);
}
