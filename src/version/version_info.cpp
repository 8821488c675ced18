// Version information: the About box texts and what every system's block reader shares
// (version_info_elf.cpp, version_info_win32.cpp).
#include "version/version_info.h"

#include <cstdio>

#include "util/dump.h"
#include "util/file_list.h"
#include "util/strings.h"
#include "version/format_number.h"
#include "version/version_reader.h"

namespace ocelo {

// The version reader's diagnostics go to the standard error stream, one line each.
void ReportVersionError(std::u16string_view line) {
  if (!DiagnosticsShown()) return;
  std::string text = ToUtf8(line);
  text += '\n';
  std::fputs(text.c_str(), stderr);
}

std::u16string VersionTablePrefix(std::uint16_t language, std::uint16_t code_page) {
  return u"\\StringFileInfo\\" + format_number(language, 16, 4) + format_number(code_page, 16, 4) + u"\\";
}

bool VersionInfo::open_path(const std::u16string& path) { return open_path(path.c_str()); }

bool VersionInfo::open_path(const char16_t* path) {
  path_ = path ? std::u16string(path) : std::u16string();
  if (path_.empty()) return false;
  return FileExists(path_) ? load() : false;
}

std::optional<AboutBoxTexts> about_box_texts(std::u16string_view program_path) {
  if (program_path.empty()) {
    ReportVersionError(u"::get_arv() ... empty");
    return std::nullopt;
  }
  VersionInfo info;
  info.open_path(std::u16string(program_path));
  AboutBoxTexts texts;
  texts.copyright = info.get_legal_copyright();
  texts.description = info.get_file_description() + u"  Version " + dotted_version(info.get_file_version());
  return texts;
}

std::optional<AboutBoxTexts> about_box_texts() { return about_box_texts(ModulePath()); }

std::u16string dotted_version(std::u16string_view version) {
  std::u16string text;
  text.reserve(version.size());
  for (char16_t c : version) {
    if (c == u' ') continue;
    text += c == u',' ? u'.' : c;
  }
  return text;
}

}  // namespace ocelo
