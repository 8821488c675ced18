// The INI engine: a line scanner over the file's text, edits that splice single lines, and the write
// lock that makes a read-modify-write of a shared file safe.
#include "settings/ini_file.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "base/ascii.h"
#include "encoding/settings_text.h"
#include "platform/fs.h"
#include "util/policy.h"

namespace ocelo::ini {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

enum class LineKind { kOther, kSection, kEntry };

// One line of the text: [begin, end) is its content without CR LF, `next` where the following line starts.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;
  LineKind kind = LineKind::kOther;
  std::u16string_view name;   // section or entry name, trimmed
  std::u16string_view value;  // entry value, trimmed
};

// Walks the lines of a text one at a time.
class LineScanner {
 public:
  explicit LineScanner(std::u16string_view text) : text_(text) {}

  bool Next(Line& line) {
    if (position_ >= text_.size()) return false;
    line = Line{};
    line.begin = position_;
    const std::size_t lf = text_.find(u'\n', position_);
    line.next = lf == std::u16string_view::npos ? text_.size() : lf + 1;
    line.end = lf == std::u16string_view::npos ? text_.size() : lf;
    if (line.end > line.begin && text_[line.end - 1] == u'\r') --line.end;
    position_ = line.next;
    Classify(line);
    return true;
  }

 private:
  void Classify(Line& line) const {
    const std::u16string_view content = Trim(text_.substr(line.begin, line.end - line.begin));
    if (content.empty() || content.front() == u';') return;
    if (content.front() == u'[') {
      const std::size_t close = content.find(u']');
      if (close != std::u16string_view::npos) {
        line.kind = LineKind::kSection;
        line.name = Trim(content.substr(1, close - 1));
      }
      return;
    }
    const std::size_t equals = content.find(u'=');
    if (equals == std::u16string_view::npos) return;
    line.kind = LineKind::kEntry;
    line.name = Trim(content.substr(0, equals));
    line.value = Trim(content.substr(equals + 1));
  }

  std::u16string_view text_;
  std::size_t position_ = 0;
};

// Where a section and one of its entries sit in the text.
struct Location {
  bool section_found = false;
  Line header;                      // the section's header line
  std::size_t section_end = 0;      // where the next section starts (or the end of the text)
  std::size_t insert_at = 0;        // after the section's last entry, or after its header
  bool insert_needs_break = false;  // the line there has no line end of its own
  bool entry_found = false;
  Line entry;  // the entry's line
};

Location Locate(std::u16string_view text, std::u16string_view section, std::u16string_view entry) {
  Location where;
  LineScanner scanner(text);
  Line line;
  bool inside = false;
  while (scanner.Next(line)) {
    if (line.kind == LineKind::kSection) {
      if (inside) {
        where.section_end = line.begin;
        return where;
      }
      if (!where.section_found && EqualsIgnoringAsciiCase(line.name, section)) {
        inside = true;
        where.section_found = true;
        where.header = line;
      }
    }
    if (!inside) continue;
    if (line.kind == LineKind::kSection || line.kind == LineKind::kEntry) {
      where.insert_at = line.next;
      where.insert_needs_break = text[line.next - 1] != u'\n';
    }
    if (line.kind == LineKind::kEntry && !where.entry_found && EqualsIgnoringAsciiCase(line.name, entry)) {
      where.entry_found = true;
      where.entry = line;
    }
  }
  where.section_end = text.size();
  return where;
}

bool HoldsLineBreakOrNull(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos;
}

}  // namespace

std::optional<std::u16string_view> FindValue(std::u16string_view text, std::u16string_view section,
                                             std::u16string_view entry) {
  section = Trim(section);
  entry = Trim(entry);
  LineScanner scanner(text);
  Line line;
  bool inside = false;
  while (scanner.Next(line)) {
    if (line.kind == LineKind::kSection) {
      if (inside) return std::nullopt;  // only the first section of the name counts
      inside = EqualsIgnoringAsciiCase(line.name, section);
    } else if (inside && line.kind == LineKind::kEntry && EqualsIgnoringAsciiCase(line.name, entry)) {
      return line.value;
    }
  }
  return std::nullopt;
}

bool CanStore(std::u16string_view section, TextArg entry, TextArg value) {
  if (HoldsLineBreakOrNull(section) || section.find(u']') != std::u16string_view::npos) return false;
  if (entry) {
    const std::u16string_view name = Trim(*entry);
    if (HoldsLineBreakOrNull(*entry) || name.find(u'=') != std::u16string_view::npos) return false;
    if (!name.empty() && (name.front() == u'[' || name.front() == u';')) return false;
  }
  return !value || !HoldsLineBreakOrNull(*value);
}

bool EditText(std::u16string& text, std::u16string_view section, TextArg entry, TextArg value) {
  section = Trim(section);
  const std::u16string_view entry_name = entry ? Trim(*entry) : std::u16string_view();
  const Location where = Locate(text, section, entry_name);
  if (!entry) {
    if (!where.section_found) return false;
    text.erase(where.header.begin, where.section_end - where.header.begin);
    return true;
  }
  if (!value) {
    if (!where.entry_found) return false;
    text.erase(where.entry.begin, where.entry.next - where.entry.begin);
    return true;
  }
  if (where.entry_found) {
    if (where.entry.value == *value) return false;
    std::u16string line(where.entry.name);
    line += u'=';
    line += *value;
    text.replace(where.entry.begin, where.entry.end - where.entry.begin, line);
    return true;
  }
  std::u16string added;
  if (where.section_found) {
    if (where.insert_needs_break) added += u"\r\n";
  } else {
    if (!text.empty() && text.back() != u'\n') added += u"\r\n";
    added += u'[';
    added += section;
    added += u"]\r\n";
  }
  added += entry_name;
  added += u'=';
  added += *value;
  added += u"\r\n";
  text.insert(where.section_found ? where.insert_at : text.size(), added);
  return true;
}

std::u16string LockPath(std::u16string_view ini_path) { return std::u16string(ini_path) + u".lock"; }

bool WithWriteLock(std::u16string_view ini_path, const std::function<bool()>& work) {
  // Holders keep the lock for one read-modify-write only, so the wait polls often at first and backs off
  // to the open pause; the whole wait is the open wait time of the policy.
  const std::u16string lock_path = LockPath(ini_path);
  std::FILE* lock = nullptr;
  const int error = RetryWhileBusy(
      [&] {
        const sys::OpenResult opened = sys::OpenStream(lock_path, "ab");
        lock = opened.stream;
        return opened.error;
      },
      BusyPauses::kBackOff);
  if (error != 0) return false;
  const bool done = work();
  std::fclose(lock);
  return done;
}

std::optional<std::u16string> ReadValue(std::u16string_view path, std::u16string_view section,
                                        std::u16string_view entry) {
  std::u16string text;
  if (!ReadSettingsText(path, text)) return std::nullopt;
  const std::optional<std::u16string_view> value = FindValue(text, section, entry);
  if (!value) return std::nullopt;
  return std::u16string(*value);
}

bool WriteValue(std::u16string_view path, std::u16string_view section, TextArg entry, TextArg value) {
  if (path.empty() || !CanStore(section, entry, value)) return false;
  return WithWriteLock(path, [&] {
    std::u16string whole;
    if (!ReadWholeSettingsText(path, whole)) {
      // Only a missing or empty file may start from an empty text; one that cannot be read would be lost.
      sys::StatRecord record;
      if (sys::Stat(path, record) == 0 && record.size > 0) return false;
    }
    try {
      // Reads see the text up to a U+0000 (what a crash can leave), so the edit is made there; what
      // follows the zero is written back as it was, never dropped.
      const std::size_t zero = whole.find(u'\0');
      std::u16string text = whole.substr(0, zero);
      if (!EditText(text, section, entry, value)) return true;
      if (zero != std::u16string::npos) text.append(whole, zero);
      return WriteSettingsText(path, text);
    } catch (const std::bad_alloc&) {
      return false;
    }
  });
}

}  // namespace ocelo::ini
