// Fuzz target for the INI engine on settings files from outside: any bytes decode to a settings text, any
// text can be searched, and an entry stored into it reads back as stored while other entries keep theirs.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

#include "encoding/settings_text.h"
#include "settings/ini_file.h"
#include "util/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ocelo;
  if (size < 3) return 0;
  // The first bytes pick the names and the value from small sets; the rest is the file.
  static const std::u16string kSections[] = {u"Debug", u"debug", u"Position", u"", u"a b"};
  static const std::u16string kEntries[] = {u"Write", u"Log", u"x", u"Entry1"};
  static const std::u16string kValues[] = {u"1", u"\"quoted\"", u"", u"\u3042\u3044", u"a=b"};
  const std::u16string& section = kSections[data[0] % 5];
  const std::u16string& entry = kEntries[data[1] % 4];
  const std::u16string& value = kValues[data[2] % 5];
  std::u16string text = DecodeSettingsBytes(std::span(data + 3, size - 3));

  const std::optional<std::u16string_view> other = ini::FindValue(text, u"Other", u"keep");
  const std::optional<std::u16string> other_value = other ? std::optional<std::u16string>(*other) : std::nullopt;
  if (!ini::CanStore(section, entry, value)) return 0;
  ini::EditText(text, section, entry, value);
  const std::optional<std::u16string_view> stored = ini::FindValue(text, section, entry);
  if (!stored || *stored != value) std::abort();
  if (ToLower(section) != u"other") {
    const std::optional<std::u16string_view> kept = ini::FindValue(text, u"Other", u"keep");
    if (kept.has_value() != other_value.has_value() || (kept && *kept != *other_value)) std::abort();
  }
  return 0;
}
