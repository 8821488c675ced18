// The environment report and its number helpers.
#include "web/u_agent.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cwctype>
#include <mutex>
#include <string>
#include <system_error>

#include "base/paths.h"
#include "platform/system.h"
#include "util/dump.h"
#include "util/folders.h"
#include "util/strings.h"
#include "version/version_info.h"
#include "web/family_folders.h"

namespace ocelo {
namespace {

std::atomic<int> g_dpi{96};

// A piece of the report: its words between single blanks.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
// GCC 12 warns of an overlapping copy inside the inlined concatenation of a literal, a new string and a
// literal (GCC bug 105651); the strings are distinct buffers.
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
std::u16string Wrap(std::u16string_view text) { return u" " + trim(text) + u" "; }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

std::u16string FromAscii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// How this program was built: a Unicode build, the standard library it was compiled against and the
// compiler, each with its version.
std::u16string BuildPieces() {
  std::u16string pieces = Wrap(u"  UNICODE  ");
#if defined(_LIBCPP_VERSION)
  pieces += Wrap(u"  libc++ " + format_real(_LIBCPP_VERSION / 1000) + u"  ");
#elif defined(_GLIBCXX_RELEASE)
  pieces += Wrap(u"  libstdc++ " + format_real(_GLIBCXX_RELEASE) + u"  ");
#endif
#if defined(__clang__)
  pieces += Wrap(u"  clang " + format_real(__clang_major__ + __clang_minor__ * 0.1) + u"  ");
#elif defined(__GNUC__)
  pieces += Wrap(u"  GCC " + format_real(__GNUC__ + __GNUC_MINOR__ * 0.1) + u"  ");
#endif
  return pieces;
}

}  // namespace

std::u16string format_real(double value) {
  char buffer[128];
  const auto format = std::fabs(value) > 1e50 ? std::chars_format::scientific : std::chars_format::fixed;
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, format, 6);
  if (error != std::errc()) return {};
  std::string text(buffer, end);
  if (text.find('.') != std::string::npos && text.find_first_of("eE") == std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return FromAscii(text);
}

double parse_real(std::u16string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && std::iswspace(static_cast<std::wint_t>(text[begin]))) ++begin;
  if (begin < text.size() && text[begin] == u'+') ++begin;
  // A number is ASCII; the first other character ends it. No number runs to hundreds of characters.
  std::string ascii;
  for (std::size_t i = begin; i < text.size() && text[i] < 0x80 && ascii.size() < 400; ++i) {
    ascii += static_cast<char>(text[i]);
  }
  double value = 0;
  const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large gives an infinity of its sign, too small zero, as the C library's conversion does.
    const bool negative = !ascii.empty() && ascii[0] == '-';
    const std::size_t exponent = ascii.find_first_of("eE");
    const bool tiny = exponent != std::string::npos && exponent + 1 < ascii.size() && ascii[exponent + 1] == '-';
    if (tiny) return negative ? -0.0 : 0.0;
    return negative ? -HUGE_VAL : HUGE_VAL;
  }
  return error == std::errc() ? value : 0.0;
}

std::u16string enclose(std::u16string_view text, char16_t opening) {
  char16_t closing = opening;
  switch (opening) {
    case u'(': closing = u')'; break;
    case u'<': closing = u'>'; break;
    case u'[': closing = u']'; break;
    case u'{': closing = u'}'; break;
    default: break;
  }
  return opening + std::u16string(text) + closing;
}

std::u16string display_scale_piece(int dpi) {
  if (dpi <= 0 || dpi == 96) return {};
  const double scale = dpi / 96.0;
  return u"  DPI " + FromAscii(std::to_string(static_cast<int>(scale * 100))) + u"%";
}

void set_display_dpi(int dpi) { g_dpi = dpi; }

std::u16string windows_version_text() { return sys::SystemNameAndRelease().release; }

std::u16string u_agent_for(const AgentFacts& facts) {
  std::u16string text = facts.program_name;
  text += u" ";
  text += facts.system_name + u" " + format_real(parse_real(facts.system_release)) + u" " +
          enclose(facts.system_release, u'(');
  text += u" ";
  if (ToLower(facts.program_file) != ToLower(facts.program_name)) text += enclose(facts.program_file, u'(');
  if (!facts.file_version.empty()) text += u" Ver." + dotted_version(facts.file_version) + u" ";
  text += BuildPieces();
  text += display_scale_piece(facts.dpi);
  text += u" ";
  text += facts.user_name;
  return text;
}

std::u16string u_agent() {
  static std::mutex guard;
  static std::u16string kept;
  std::lock_guard<std::mutex> lock(guard);
  if (!kept.empty()) return kept;
  AgentFacts facts;
  const std::u16string module = ModulePath();
  facts.program_name = program_name();
  facts.program_file = FileName(module);
  VersionInfo info;
  if (info.open_path(module)) facts.file_version = info.get_file_version();
  const sys::SystemRelease system = sys::SystemNameAndRelease();
  facts.system_name = system.name;
  facts.system_release = system.release;
  facts.dpi = g_dpi;
  facts.user_name = UserName();
  kept = u_agent_for(facts);
  return kept;
}

}  // namespace ocelo
