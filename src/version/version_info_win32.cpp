// Version information from an executable's VERSIONINFO resource, read with GetFileVersionInfoW and
// VerQueryValueW (the build puts the resource in with windres).
#include <windows.h>

#include <string>

#include "version/version_info.h"
#include "version/version_reader.h"

namespace ocelo {
namespace {

std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

}  // namespace

bool VersionInfo::load() {
  handle_ = 0;
  size_ = 0;
  prefix_.clear();
  const std::wstring path = Wide(path_);
  DWORD ignored = 0;
  size_ = path.empty() ? 0 : ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size_ == 0) {
    ReportVersionError(u"::GetFileVersionInfoSize ... 0");
    return false;
  }
  data_.assign(size_, 0);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size_, data_.data())) {
    data_.clear();
    ReportVersionError(u"::GetFileVersionInfo ... false");
    return false;
  }
  struct Translation {
    WORD language;
    WORD code_page;
  };
  void* table = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &table, &length) || length < sizeof(Translation)) {
    ReportVersionError(u"::VerQueryValue   len = 0");
    return false;
  }
  const Translation* first = static_cast<const Translation*>(table);
  prefix_ = VersionTablePrefix(first->language, first->code_page);
  return true;
}

std::u16string VersionInfo::query_value(std::u16string_view name) {
  if (prefix_.empty() && !load()) return {};
  const std::wstring key = Wide(prefix_) + Wide(name);
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data_.data(), key.c_str(), &value, &length)) {
    ReportVersionError(u"::VerQueryValue ...   " + std::u16string(name));
    return {};
  }
  const char16_t* text = static_cast<const char16_t*>(value);
  std::u16string result(text, length);
  result.resize(result.find(u'\0') == std::u16string::npos ? result.size() : result.find(u'\0'));
  if (result.empty()) {
    ReportVersionError(u"::VerQueryValue len=0 " + std::u16string(name));
    return {};
  }
  return result;
}

}  // namespace ocelo
