// The settings store on an INI file of 10,000 entries: a read answered from the file, the same read
// answered from the read cache, and a run of 1,000 number writes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "encoding/settings_text.h"
#include "settings/profile.h"
#include "settings/profile_cache.h"
#include "util/strings.h"

namespace ocelo::bench {
namespace {

constexpr int kEntries = 10000;

// A private folder for the benchmark's files; HOME and the XDG folders point into it, so nothing the
// store does reaches the user's own settings.
const std::string& BenchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ocelo-settings-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
      setenv(name, pattern.c_str(), 1);
    }
    return pattern;
  }();
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }
  } cleanup;
  return folder;
}

// An INI file of 10 sections of 1,000 entries each, written directly (not through the store, so the
// read cache stays empty); returns the Profile name for it.
std::u16string LargeIniFile(const char* title) {
  const std::string base = BenchFolder() + "/" + title;
  std::u16string text;
  for (int s = 0; s < 10; ++s) {
    text += u"[Section" + Widen(std::to_string(s)) + u"]\r\n";
    for (int e = 0; e < kEntries / 10; ++e) {
      text += u"Entry" + Widen(std::to_string(e)) + u"=value number " + Widen(std::to_string(s * 1000 + e)) + u"\r\n";
    }
  }
  if (!WriteSettingsText(Widen(base + ".ini"), text)) std::abort();
  return Widen(base);
}

void BM_GetStringFromFile(benchmark::State& state) {
  Profile profile(LargeIniFile("read_file"));
  profile_cache::SetSwitch(0, true);  // every read goes to the file
  for (auto _ : state) benchmark::DoNotOptimize(profile.GetString(u"Section5", u"Entry500", u""));
  profile_cache::SetSwitch(1, true);
  if (profile.GetString(u"Section5", u"Entry500", u"") != u"value number 5500") state.SkipWithError("wrong value");
}

void BM_GetStringFromCache(benchmark::State& state) {
  Profile profile(LargeIniFile("read_cache"));
  profile_cache::SetSwitch(1, true);
  profile_cache::Clear();
  profile.GetString(u"Section5", u"Entry500", u"");  // the one read from the file
  for (auto _ : state) benchmark::DoNotOptimize(profile.GetString(u"Section5", u"Entry500", u""));
  if (profile.GetString(u"Section5", u"Entry500", u"") != u"value number 5500") state.SkipWithError("wrong value");
  profile_cache::Clear();
}

// 1,000 WriteInt calls per iteration, each a locked read-modify-write of the whole file.
void BM_WriteInt1000(benchmark::State& state) {
  Profile profile(state.range(0) ? LargeIniFile("write_large") : Widen(BenchFolder() + "/write_small"));
  const std::u16string names[] = {u"N0", u"N1", u"N2", u"N3", u"N4", u"N5", u"N6", u"N7", u"N8", u"N9"};
  int value = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      if (!profile.WriteInt(u"Counters", names[i % 10], ++value)) {
        state.SkipWithError("write failed");
        return;
      }
    }
  }
  profile_cache::Clear();
}

BENCHMARK(BM_GetStringFromFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetStringFromCache)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_WriteInt1000)->Arg(1)->Arg(0)->ArgName("large_file")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ocelo::bench
