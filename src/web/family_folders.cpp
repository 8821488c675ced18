// The family's folders, the program name, and the text helpers of the web-access units.
#include "web/family_folders.h"

#include <cwctype>

#include "base/paths.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/dump.h"
#include "util/folders.h"
#include "util/strings.h"
#include "version/version_info.h"

namespace ocelo {
namespace {

constexpr std::u16string_view kFamilyFolder = u"Vexo.tmp";

std::u16string FamilyRoot() { return AddSlash(TempFolder()) + std::u16string(kFamilyFolder) + kPathSeparator; }

// The program's title names its work folder; a program without any name takes today's date.
std::u16string ProgramTitle() {
  std::u16string title = FileTitle(program_name());
  return title.empty() ? FormatNow(u"%Y%m%d") : title;
}

}  // namespace

std::u16string family_temp_folder(std::u16string_view sub) {
  std::u16string path = FamilyRoot() + std::u16string(sub);
  CreateFolderTree(path);
  return path;
}

std::u16string program_work_folder() {
  std::u16string path = FamilyRoot() + ProgramTitle() + kPathSeparator;
  if (CreateFolderTree(path)) return path;
  const std::u16string sep(1, kPathSeparator);
  path = SpecialFolder(sys::kCsidlCommonDocuments) + sep + u"Temp" + sep + u"Temp" + sep +
         std::u16string(kFamilyFolder) + sep + FileTitle(ModulePath()) + sep;
  DumpText(path);
  return path;
}

std::u16string TodayFolder() {
  const std::u16string work = program_work_folder();
  std::u16string path = work + FormatNow(u"%Y%m%d");
  if (!CreateFolderTree(path)) path = work;
  return AddSlash(path);
}

bool RemoveEmptyDayFolder(std::u16string_view folder) {
  const std::u16string work = program_work_folder();
  const std::u16string path = AddSlash(folder);
  if (path.size() <= work.size() || path.compare(0, work.size(), work) != 0) return false;
  // Removing an empty folder is one step that fails on a folder with anything in it.
  return sys::RemoveFolder(StripSlash(path)) == 0;
}

std::u16string program_name_of(std::u16string_view program_path) {
  VersionInfo info;
  info.open_path(std::u16string(program_path));
  std::u16string name = info.get_original_filename();
  return name.empty() ? FileName(program_path) : name;
}

std::u16string program_name() {
  static const std::u16string name = program_name_of(ModulePath());
  return name;
}

std::u16string replace_all(std::u16string_view text, std::u16string_view from, std::u16string_view to) {
  std::u16string result(text);
  if (from.empty()) return result;
  const std::u16string lower_from = ToLower(from);
  const std::u16string lower_to = ToLower(to);
  std::u16string lowered;  // the result without letter case, made when first needed, kept in step
  bool have_lowered = false;
  std::size_t offset = 0;
  while (offset < result.size()) {
    std::size_t found = result.find(from, offset);
    if (found == std::u16string::npos) {
      if (!have_lowered) {
        lowered = ToLower(result);
        have_lowered = true;
      }
      found = lowered.find(lower_from, offset);
      if (found == std::u16string::npos) break;
    }
    result.replace(found, from.size(), to);
    if (have_lowered) lowered.replace(found, from.size(), lower_to);
    offset = to.size() < from.size() ? found : found + to.size() - from.size() + 1;
  }
  return result;
}

std::u16string trim(std::u16string_view text) {
  auto space = [](char16_t c) { return std::iswspace(static_cast<std::wint_t>(c)) != 0; };
  std::size_t begin = 0, end = text.size();
  while (begin < end && space(text[begin])) ++begin;
  while (end > begin && space(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

}  // namespace ocelo
