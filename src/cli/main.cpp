// ocelo-cli's entry: hands the arguments to RunCli.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return ocelo::RunCli(args, std::cout, std::cerr);
}
