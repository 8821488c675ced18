// Version information from the version block in an ELF executable's ".ocelo_version" section.
#include "util/file_list.h"
#include "util/strings.h"
#include "version/version_block.h"
#include "version/version_info.h"
#include "version/version_reader.h"

namespace ocelo {
namespace {

std::u16string TablePrefix(VersionTranslation key) { return VersionTablePrefix(key.language, key.code_page); }

// Lower-case ASCII comparison: the hexadecimal digits of a prefix may be written either way.
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) { return ToLower(a) == ToLower(b); }

}  // namespace

bool VersionInfo::load() {
  handle_ = 0;
  size_ = 0;
  std::optional<ElfSection> section = path_.empty() ? std::nullopt : FindElfSection(path_, kVersionSection);
  if (section && section->size > 0 && section->size <= kMaxVersionBlock) {
    size_ = static_cast<std::uint32_t>(section->size);
  }
  if (size_ == 0) {
    ReportVersionError(u"::GetFileVersionInfoSize ... 0");
    return false;
  }
  std::optional<ParsedVersionBlock> block;
  if (ReadFileRange(path_, section->offset, size_, data_)) block = ParseVersionBlock(data_);
  if (!block) {
    ReportVersionError(u"::GetFileVersionInfo ... false");
    return false;
  }
  if (block->translations.empty()) {
    ReportVersionError(u"::VerQueryValue   len = 0");
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
          ReportVersionError(u"::VerQueryValue len=0 " + std::u16string(name));
          return {};
        }
        return value.substr(0, value.find(u'\0'));
      }
    }
  }
  ReportVersionError(u"::VerQueryValue ...   " + std::u16string(name));
  return {};
}

}  // namespace ocelo
