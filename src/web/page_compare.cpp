// Page comparison: line normalisation, line breaks between HTML tags, the page files of today's work
// folder and their difference listing.
#include "web/page_compare.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "base/paths.h"
#include "encoding/decode.h"
#include "encoding/write.h"
#include "platform/command_line.h"
#include "util/dump.h"
#include "util/policy.h"
#include "util/strings.h"
#include "version/format_number.h"
#include "web/commands.h"
#include "web/family_folders.h"

namespace ocelo {
namespace {

std::atomic<std::uint32_t> g_comparisons{0};

// The comparison's messages go to the standard error stream, one line each.
void Report(const char* line) {
  std::fputs(line, stderr);
  std::fputc('\n', stderr);
}

// The text as the UTF-16 page copy holds it when read back: up to its first U+0000.
std::u16string_view UpToZero(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

}  // namespace

std::u16string normalise_lines(std::u16string_view text) {
  std::vector<std::u16string> lines = SplitText(text, u"\r\n", true);
  std::erase_if(lines, [](const std::u16string& line) { return line.empty(); });
  return JoinText(lines, u"\r\n") + u"\r\n";
}

bool same_page_lines(std::u16string_view old_page, std::u16string_view new_page) {
  return replace_all(normalise_lines(old_page), u"https:", u"http:") ==
         replace_all(normalise_lines(new_page), u"https:", u"http:");
}

std::u16string html_line_breaks(std::u16string_view text) {
  static constexpr std::u16string_view kBreaks[][2] = {
      {u"</div>", u"</div>\r\n"},
      {u"</script>", u"</script>\r\n"},
      {u"</span>", u"</span>\r\n"},
      {u"</li>", u"</li>\r\n"},
      {u"</a>", u"</a>\r\n"},
      {u"><div", u">\r\n<div"},
      {u"><script", u">\r\n<script"},
      {u"><span", u">\r\n<span"},
      {u"><style", u">\r\n<style"},
      {u"><img", u">\r\n<img"},
      {u"><li", u">\r\n<li"},
      {u"><ul", u">\r\n<ul"},
      {u"><ol", u">\r\n<ol"},
      {u"/><", u"/>\r\n<"},
      {u");", u");\r\n"},
  };
  std::u16string result(text);
  for (const auto& pair : kBreaks) result = replace_all(result, pair[0], pair[1]);
  return result;
}

bool save_page_text(std::u16string_view path, std::u16string_view text) {
  const std::u16string f = TodayFolder() + FileName(path);
  const std::u16string ext = ToLower(FileExtension(f));
  const std::u16string base = FolderPart(f) + kPathSeparator + FileTitle(f);
  (void)WriteUtf8File(base + u".utf_8." + ext, text, false);  // a copy to look at; nothing reads it back
  const std::u16string utf16_copy = base + u".utf16." + ext;
  // The normalised page is made from the UTF-16 copy as read back; when that copy could not be written,
  // from the text it would hold, rather than from whatever an older copy of that name holds.
  std::u16string normalised;
  if (WriteUtf16MarkedFile(utf16_copy, text)) {
    normalised = normalise_lines(ReadTextFile(utf16_copy));
  } else {
    normalised = normalise_lines(UpToZero(text));
  }
  return WriteUtf16MarkedFile(path, normalised);
}

bool same_text_files(std::u16string_view a, std::u16string_view b) {
  try {
    const FileContent first = ReadFileContent(a);
    if (!first.exists || !first.readable) return false;
    const FileContent second = ReadFileContent(b);
    if (!second.exists || !second.readable) return false;
    return first.text == second.text;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool compare_pages(std::u16string_view old_page, std::u16string_view new_page) {
  const std::u16string o = html_line_breaks(old_page);
  const std::u16string n = html_line_breaks(new_page);

  const std::uint32_t number = ++g_comparisons;
  const std::u16string folder = TodayFolder();
  const std::u16string old_file = folder + FormatNow(u"%H%M_") + format_number(number, 10, 2) + u"o.txt";
  const std::u16string new_file = folder + FormatNow(u"%H%M_") + format_number(number, 10, 2) + u"n.txt";
  const std::u16string listing = folder + FormatNow(u"%H%M_") + format_number(number, 10, 2) + u"_.txt";

  const bool saved = save_page_text(old_file, o) & save_page_text(new_file, n);
  // Page files that could not be written are no evidence either way: the texts themselves decide then.
  const bool same = saved ? same_text_files(new_file, old_file)
                          : normalise_lines(UpToZero(o)) == normalise_lines(UpToZero(n));
  if (same) {
    Report("no update");
    return true;
  }
  if (has_program(sys::CompareProgram())) {
    // The listing is for the user to look at; the pages differ whatever becomes of it.
    (void)sys::RunCommandLine(sys::CompareCommand(old_file, new_file, listing), Waits().program_lookup);
    Report("changed");
  }
  return false;
}

}  // namespace ocelo
