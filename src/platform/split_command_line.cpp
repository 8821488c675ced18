// SplitCommandLine: the Windows rules for splitting a command line, the same on every system (the
// shell-open parameters are written for them).
#include "platform/process.h"

namespace ocelo::sys {

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> arguments;
  std::u16string current;
  bool in_argument = false, quoted = false;
  for (std::size_t i = 0; i < line.size();) {
    char16_t c = line[i];
    if (!quoted && (c == u' ' || c == u'\t')) {
      if (in_argument) arguments.push_back(std::move(current));
      current.clear();
      in_argument = false;
      ++i;
      continue;
    }
    in_argument = true;
    if (c == u'\\') {
      std::size_t run = 0;
      while (i < line.size() && line[i] == u'\\') ++run, ++i;
      if (i < line.size() && line[i] == u'"') {
        current.append(run / 2, u'\\');
        if (run % 2 == 1) {
          current += u'"';
          ++i;
        }
      } else {
        current.append(run, u'\\');
      }
      continue;
    }
    if (c == u'"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
        current += u'"';
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
      continue;
    }
    current += c;
    ++i;
  }
  if (in_argument) arguments.push_back(std::move(current));
  return arguments;
}

}  // namespace ocelo::sys
