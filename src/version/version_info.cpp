// Version information: reading a file's version block, the string look-up, the About box texts.
#include "version/version_info.h"

#include <cstdio>

#include "util/dump.h"
#include "util/file_list.h"
#include "util/strings.h"
#include "version/format_number.h"
#include "version/version_block.h"

namespace ocelo {
namespace {

// The version reader's diagnostics go to the standard error stream, one line each.
void ReportError(std::u16string_view line) {
  if (!DiagnosticsShown()) return;
  std::string text = ToUtf8(line);
  text += '\n';
  std::fputs(text.c_str(), stderr);
}

std::u16string TablePrefix(VersionTranslation key) {
  return u"\\StringFileInfo\\" + format_number(key.language, 16, 4) + format_number(key.code_page, 16, 4) + u"\\";
}

// Lower-case ASCII comparison: the hexadecimal digits of a prefix may be written either way.
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) { return ToLower(a) == ToLower(b); }

}  // namespace

bool VersionInfo::open_path(const std::u16string& path) { return open_path(path.c_str()); }

bool VersionInfo::open_path(const char16_t* path) {
  path_ = path ? std::u16string(path) : std::u16string();
  if (path_.empty()) return false;
  return FileExists(path_) ? load() : false;
}

bool VersionInfo::load() {
  handle_ = 0;
  size_ = 0;
  std::optional<ElfSection> section = path_.empty() ? std::nullopt : FindElfSection(path_, kVersionSection);
  if (section && section->size > 0 && section->size <= kMaxVersionBlock) {
    size_ = static_cast<std::uint32_t>(section->size);
  }
  if (size_ == 0) {
    ReportError(u"::GetFileVersionInfoSize ... 0");
    return false;
  }
  std::optional<ParsedVersionBlock> block;
  if (ReadFileRange(path_, section->offset, size_, data_)) block = ParseVersionBlock(data_);
  if (!block) {
    ReportError(u"::GetFileVersionInfo ... false");
    return false;
  }
  if (block->translations.empty()) {
    ReportError(u"::VerQueryValue   len = 0");
    return false;
  }
  prefix_ = TablePrefix(block->translations.front());
  return true;
}

std::u16string VersionInfo::query_value(std::u16string_view name) {
  if (prefix_.empty() && !load()) return {};
  std::optional<ParsedVersionBlock> block = ParseVersionBlock(data_);
  if (block) {
    for (const ParsedStringTable& table : block->tables) {
      if (!EqualIgnoringCase(TablePrefix(table.key), prefix_)) continue;
      for (const auto& [key, value] : table.strings) {
        if (key != name) continue;
        if (value.empty()) {
          ReportError(u"::VerQueryValue len=0 " + std::u16string(name));
          return {};
        }
        return value.substr(0, value.find(u'\0'));
      }
    }
  }
  ReportError(u"::VerQueryValue ...   " + std::u16string(name));
  return {};
}

std::optional<AboutBoxTexts> about_box_texts(std::u16string_view program_path) {
  if (program_path.empty()) {
    ReportError(u"::get_arv() ... empty");
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
