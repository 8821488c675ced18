// The environment report: its pieces in order for given facts, the numbers written and read whatever
// the locale, and the report of the running test program.
#include "web/u_agent.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/sandbox.h"
#include "util/folders.h"
#include "web/family_folders.h"

namespace ocelo {
namespace {

using test::U16;
using test::U8;

TEST(AgentNumbers, FormatRealParseRealEnclose) {
  const struct {
    double value;
    const char* text;
  } formats[] = {
      {12.0, "12"},     {0.5, "0.5"},     {600, "600"},           {6.1, "6.1"},
      {-0.25, "-0.25"}, {0.0000004, "0"}, {1e51, "1.000000e+51"},
  };
  for (const auto& c : formats) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(format_real(c.value)), c.text);
  }
  const struct {
    const char* text;
    double value;
  } parses[] = {
      {"10.0.19041.1", 10},
      {"6.1.7601.17514", 6.1},
      {"6.1.0-18-amd64", 6.1},
      {" \t5.15", 5.15},
      {"+2", 2},
      {"-3.5x", -3.5},
      {"", 0},
      {"x6", 0},
      {"1e400", HUGE_VAL},
      {"7\u00e9", 7},
  };
  for (const auto& c : parses) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_real(U16(c.text)), c.value);
  }
  EXPECT_EQ(enclose(u"x", u'['), u"[x]");
  EXPECT_EQ(enclose(u"x", u'*'), u"*x*");
  EXPECT_EQ(enclose(u"x", u'<'), u"<x>");
}

// A locale that writes decimal commas, as the dialog's toolkit selects from the environment: an
// installed one, else one made into the sandbox when the system has the locale sources.
bool SelectCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "German"}) {
    if (std::setlocale(LC_NUMERIC, name)) return true;
  }
#ifdef _WIN32
  return false;
#else
  const std::string folder = test::SandboxRoot() + "/locales";
  const std::string make = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
  if (!std::ifstream("/usr/share/i18n/locales/de_DE") || std::system(("mkdir -p '" + folder + "'").c_str()) != 0) {
    return false;
  }
  std::system(make.c_str());  // localedef warns and fails on minor issues, yet writes the locale
  ::setenv("LOCPATH", folder.c_str(), 1);
  const bool selected = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  ::unsetenv("LOCPATH");
  return selected;
#endif
}

TEST(AgentNumbers, LocaleWithCommaDecimalsChangesNothing) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!SelectCommaLocale()) GTEST_SKIP() << "no locale with decimal commas";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 6.1);
  EXPECT_STREQ(probe, "6,1");  // the locale is in force
  EXPECT_EQ(format_real(6.1), u"6.1");
  EXPECT_EQ(parse_real(u"6.1.7601"), 6.1);
  EXPECT_EQ(parse_real(u"6,1"), 6);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(AgentText, PiecesInOrder) {
  AgentFacts facts;
  facts.program_name = u"Ocelo";
  facts.system_name = u"Linux";
  facts.system_release = u"6.1.0-18-amd64";
  facts.user_name = u"maria";
  const struct {
    const char *file, *version;
    int dpi;
    const char *head, *tail;
  } cases[] = {
      {"Ocelo", "1, 0, 0, 1", 96, "Ocelo Linux 6.1 (6.1.0-18-amd64)  Ver.1.0.0.1  UNICODE ", " maria"},
      {"ocelo", "", 96, "Ocelo Linux 6.1 (6.1.0-18-amd64)  UNICODE ", " maria"},
      {"ocelo-old", "1.0", 144, "Ocelo Linux 6.1 (6.1.0-18-amd64) (ocelo-old) Ver.1.0  UNICODE ", "  DPI 150% maria"},
      {"Ocelo", "", 120, "Ocelo Linux 6.1 (6.1.0-18-amd64)  UNICODE ", "  DPI 125% maria"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.version);
    facts.program_file = U16(c.file);
    facts.file_version = U16(c.version);
    facts.dpi = c.dpi;
    const std::string text = U8(u_agent_for(facts));
    EXPECT_TRUE(text.starts_with(c.head)) << text;
    EXPECT_TRUE(text.ends_with(std::string(" ") + c.tail)) << text;
    EXPECT_EQ(text.find("DPI") != std::string::npos, c.dpi != 96) << text;
  }
  facts.system_release.clear();
  facts.program_file = u"Ocelo";
  EXPECT_TRUE(U8(u_agent_for(facts)).starts_with("Ocelo Linux 0 ()  UNICODE ")) << U8(u_agent_for(facts));
  EXPECT_EQ(display_scale_piece(100), u"  DPI 104%");  // truncated, not rounded
}

// The system's name and release as the system records them elsewhere.
#ifdef _WIN32
constexpr char kSystemName[] = "Windows NT";
std::string RecordedRelease() {
  const wchar_t* key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  DWORD major = 0, minor = 0, size = sizeof major;
  wchar_t text[32] = {};
  std::string release;
  // Windows 10 and later record the numbers; older systems (and Wine's default) only "6.1".
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentMajorVersionNumber", RRF_RT_REG_DWORD, nullptr, &major, &size) ==
      ERROR_SUCCESS) {
    size = sizeof minor;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentMinorVersionNumber", RRF_RT_REG_DWORD, nullptr, &minor, &size);
    release = std::to_string(major) + "." + std::to_string(minor);
  } else {
    size = sizeof text;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", RRF_RT_REG_SZ, nullptr, text, &size);
    release = U8(std::u16string(reinterpret_cast<const char16_t*>(text)));
  }
  wchar_t build[32] = {};
  size = sizeof build;
  ::RegGetValueW(HKEY_LOCAL_MACHINE, key, L"CurrentBuildNumber", RRF_RT_REG_SZ, nullptr, build, &size);
  release += ".";
  release += U8(std::u16string(reinterpret_cast<const char16_t*>(build)));
  return release;
}
#else
constexpr char kSystemName[] = "Linux";
std::string RecordedRelease() {
  std::ifstream release_file("/proc/sys/kernel/osrelease");
  std::string release;
  std::getline(release_file, release);
  return release;
}
#endif

TEST(AgentText, ReportOfTheRunningProgramIsKept) {
  const std::string release = RecordedRelease();
  EXPECT_EQ(U8(windows_version_text()), release);

  const std::u16string report = u_agent();
  const std::string expected_head = U8(program_name()) + " " + kSystemName + " " +
                                    U8(format_real(parse_real(U16(release)))) + " (" + release + ") ";
  EXPECT_TRUE(U8(report).starts_with(expected_head)) << U8(report);
  EXPECT_TRUE(report.ends_with(u" " + UserName())) << U8(report);
  EXPECT_NE(report.find(u" Ver."), std::u16string::npos) << U8(report);  // the test program has a version block
  set_display_dpi(144);
  EXPECT_EQ(u_agent(), report);  // made once per run
  set_display_dpi(96);
}

}  // namespace
}  // namespace ocelo
