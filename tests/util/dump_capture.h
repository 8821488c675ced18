// Test helpers for the dump log: send it into a test's own folder, hold the clock mid-hour, read its lines.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/system.h"
#include "support/sandbox.h"
#include "util/dump.h"
#include "util/policy.h"

namespace ocelo::test {

/// Points the documents folder (XDG_DATA_HOME, on Windows OCELO_TEST_DOCUMENTS) at <root>/data for the life of
/// the object.
class DumpCapture {
 public:
  explicit DumpCapture(const std::string& root) : data_(root + "/data") {
    for (const char16_t* name : {u"XDG_DATA_HOME", u"OCELO_TEST_DOCUMENTS"}) {
      previous_.push_back(sys::Environment(name));
      sys::SetEnvironment(name, U16(data_));
    }
  }
  ~DumpCapture() {
    sys::SetEnvironment(u"XDG_DATA_HOME", previous_[0]);
    sys::SetEnvironment(u"OCELO_TEST_DOCUMENTS", previous_[1]);
  }

  const std::string& Data() const { return data_; }
  std::string Folder() const { return data_ + "/Temp/Temp/DbgDump/WC"; }
  std::string File() const { return Folder() + "/" + U8(FormatNow(u"%m%d_%H")) + ".txt"; }

  /// The file as UTF-16 code units (the mark included).
  std::u16string Text() const {
    const Bytes bytes = ReadBytes(File());
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    return text;
  }

  /// The capture's own log, as UTF-8 without the mark.
  std::string Log() const {
    std::u16string text = Text();
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    return U8(text);
  }

  /// The lines after the mark, without their CR LF.
  std::vector<std::u16string> Lines() const {
    std::u16string text = Text();
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  }

 private:
  std::string data_;
  std::vector<std::u16string> previous_;
};

/// Moves the program's clock to the middle of the current local hour, so a test never sees the hourly
/// file change under it.
class MidHourClock {
 public:
  MidHourClock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (sys::LocalTime(now, local) != 0) return;
    previous_ = SetClockOffset(30 * 60 - (local.tm_min * 60 + local.tm_sec));
  }
  ~MidHourClock() { SetClockOffset(previous_); }

 private:
  std::int64_t previous_ = 0;
};

}  // namespace ocelo::test
