// ocelo-cli's entry: a file-size limit made a failed write, then the arguments handed to RunCli.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/fs.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  ocelo::sys::IgnoreFileSizeSignal();
  ocelo::sys::UseBinaryStandardStreams();
  std::vector<std::string> args = ocelo::sys::ProgramArguments(argc, argv);
  return ocelo::RunCli(args, std::cin, std::cout, std::cerr);
}
