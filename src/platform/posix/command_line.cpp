// Command lines for /bin/sh: single-quoted words, UTF-8 scripts ending in LF, `which` and `diff`.
#include "platform/command_line.h"

#include "platform/fs.h"

namespace ocelo::sys {

std::u16string QuoteWord(std::u16string_view word) {
  std::u16string quoted = u"'";
  for (char16_t c : word) {
    if (c == u'\'') {
      quoted += u"'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += u'\'';
  return quoted;
}

std::string CommandScript(std::u16string_view command) {
  std::string script = ToNativePath(command);
  script += '\n';
  return script;
}

std::u16string LocateCommand(std::u16string_view name, std::u16string_view out, std::u16string_view errors) {
  const std::u16string word = QuoteWord(name);
  return u"{ which " + word + u" || echo " + QuoteWord(std::u16string(name) + u": not found") + u" >&2; } > " +
         QuoteWord(out) + u" 2> " + QuoteWord(errors);
}

std::u16string CompareProgram() { return u"diff"; }

std::u16string CompareCommand(std::u16string_view old_file, std::u16string_view new_file, std::u16string_view listing) {
  // diff reads the old text on its standard input and the new one from descriptor 3, both through iconv:
  // it would take UTF-16 files for binary ones.
  return u"iconv -f UTF-16 -t UTF-8 " + QuoteWord(new_file) + u" | { iconv -f UTF-16 -t UTF-8 " + QuoteWord(old_file) +
         u" | diff - /dev/fd/3; } 3<&0 > " + QuoteWord(listing);
}

StartResult RunCommandLine(std::u16string_view command, std::chrono::milliseconds watch) {
  return StartDetached({u"/bin/sh", u"-c", std::u16string(command)}, {}, watch);
}

}  // namespace ocelo::sys
