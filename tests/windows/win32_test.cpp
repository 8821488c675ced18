// The Windows platform layer against the system itself (under Wine in CI): real sharing violations
// between two handles, drive-letter, network and long paths, and the code page 932 converters beside
// the system's MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>
// The platform layer's functions, not the macros for the system's A and W forms.
#undef CopyFile
#undef MoveFile
#undef ReplaceFile

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/paths.h"
#include "cli/walk.h"
#include "encoding/cp932.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "settings/registry.h"
#include "support/sandbox.h"
#include "util/policy.h"
#include "version/version_info.h"

namespace ocelo {
namespace {

using test::Bytes;
using test::TestFolderU16;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::string UnitsHex(std::u16string_view text) {
  std::string out;
  char unit[8];
  for (char16_t u : text) {
    std::snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(u));
    out += unit;
  }
  return out;
}

// --- sharing ------------------------------------------------------------------------------------------------

// Another handle on the file, as another program holding it open would have.
class Holder {
 public:
  Holder(const std::u16string& path, DWORD access, DWORD share)
      : handle_(::CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Holder() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

int OpenError(const std::u16string& path, const char* mode) {
  sys::OpenResult opened = sys::OpenStream(path, mode);
  if (opened.stream) std::fclose(opened.stream);
  return opened.error;
}

TEST(Win32Sharing, AnotherHandleMakesTheOpensAndWritesBusyAsItsSharingModeSays) {
  struct Case {
    const char* holder;
    DWORD access;
    DWORD share;
    int read, write, replace;  // OpenStream "rb", OpenStream "ab", ReplaceFile
  };
  const Case cases[] = {
      {"reader sharing nothing", GENERIC_READ, 0, EBUSY, EBUSY, EBUSY},
      {"reader sharing reads", GENERIC_READ, FILE_SHARE_READ, 0, EBUSY, EBUSY},
      {"writer sharing reads", GENERIC_WRITE, FILE_SHARE_READ, EBUSY, EBUSY, EBUSY},
      // Our writer shares nothing, so any other open keeps it out; our reader shares with readers only.
      {"reader sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, EBUSY,
       EBUSY},
      {"writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, EBUSY, EBUSY,
       EBUSY},
  };
  const std::u16string path = TestFolderU16() + u"held.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.holder);
    ASSERT_EQ(sys::ReplaceFile(path, Bytes{'o', 'l', 'd'}), 0);
    {
      Holder holder(path, c.access, c.share);
      ASSERT_TRUE(holder.ok());
      EXPECT_EQ(OpenError(path, "rb"), c.read);
      EXPECT_EQ(OpenError(path, "ab"), c.write);
      EXPECT_EQ(sys::ReplaceFile(path, Bytes{'n', 'e', 'w'}), c.replace);
    }
    EXPECT_EQ(test::ReadBytes(test::U8(path)), (Bytes{'o', 'l', 'd'})) << "a busy file keeps its content";
    EXPECT_EQ(sys::ReplaceFile(path, Bytes{'n', 'e', 'w'}), 0) << "and is free once the other handle closes";
  }
}

TEST(Win32Sharing, OurOwnStreamsExcludeEachOtherAsLocksDo) {
  const std::u16string path = TestFolderU16() + u"own.txt";
  ASSERT_EQ(sys::ReplaceFile(path, Bytes{'x'}), 0);
  sys::OpenResult reader = sys::OpenStream(path, "rb");
  ASSERT_TRUE(reader.stream);
  EXPECT_EQ(OpenError(path, "rb"), 0) << "readers share";
  EXPECT_EQ(OpenError(path, "wb"), EBUSY);
  std::fclose(reader.stream);
  sys::OpenResult writer = sys::OpenStream(path, "wb");
  ASSERT_TRUE(writer.stream);
  EXPECT_EQ(OpenError(path, "rb"), EBUSY);
  std::fclose(writer.stream);
}

TEST(Win32Sharing, RetryWhileBusyWaitsOutASharingViolation) {
  const std::u16string path = TestFolderU16() + u"busy.txt";
  ASSERT_EQ(sys::ReplaceFile(path, Bytes{'x'}), 0);
  test::CountedPauses pauses(3);
  Holder holder(path, GENERIC_READ, 0);
  ASSERT_TRUE(holder.ok());
  EXPECT_EQ(RetryWhileBusy([&] { return sys::ReplaceFile(path, Bytes{'y'}); }), EBUSY);
  EXPECT_GE(pauses.Take(), 2) << "a sharing violation is waited for, not failed at once";
}

// --- paths --------------------------------------------------------------------------------------------------

TEST(Win32Paths, DriveAndNetworkPathsAreTheNativeStyle) {
  EXPECT_EQ(kNativeStyle, PathStyle::kWindows);
  EXPECT_TRUE(IsNetworkPath(u"\\\\server\\share\\a.txt"));
  EXPECT_FALSE(IsNetworkPath(u"C:\\a.txt"));
  EXPECT_EQ(NormalizePath(u"C:/dir//sub/"), u"C:\\dir\\sub");
  EXPECT_EQ(NormalizePath(u"\\\\server\\share//a"), u"\\\\server\\share\\a");
  EXPECT_EQ(FolderPart(u"\\\\server\\share\\a.txt"), u"\\\\server\\share");
  EXPECT_EQ(FileName(u"C:\\dir\\notes.txt"), u"notes.txt");
  EXPECT_EQ(AbsolutePath(u"a\\..\\b.txt", u"\\\\server\\share\\w"), u"\\\\server\\share\\w\\b.txt");
  EXPECT_EQ(AbsolutePath(u"\\x", sys::WorkingFolder()).substr(1, 2), u":\\");
}

TEST(Win32Paths, FilesBeyondTheClassicLengthLimitAreWrittenReadAndListed) {
  std::u16string folder = TestFolderU16();
  while (folder.size() < 300) {
    folder += std::u16string(40, u'd') + u'\\';
    ASSERT_EQ(sys::MakeFolder(folder), 0) << folder.size();
  }
  const std::u16string path = folder + u"long.txt";
  ASSERT_GT(path.size(), static_cast<std::size_t>(MAX_PATH));
  ASSERT_EQ(sys::ReplaceFile(path, Bytes{'a', 'b'}), 0);
  sys::StatRecord record;
  ASSERT_EQ(sys::Stat(path, record), 0);
  EXPECT_EQ(record.size, 2);
  EXPECT_EQ(record.mode & 0xF000, 0x8000u);
  std::vector<sys::FolderEntry> entries;
  ASSERT_EQ(sys::ListFolder(folder, entries), 0);
  bool listed = false;
  for (const auto& entry : entries) listed |= entry.name == u"long.txt" && !entry.is_folder;
  EXPECT_TRUE(listed);
  EXPECT_EQ(sys::RemoveFile(path), 0);
}

TEST(Win32Files, AttributesAndTheirEffects) {
  const std::u16string path = TestFolderU16() + u"kept.txt";
  ASSERT_EQ(sys::ReplaceFile(path, Bytes{'1'}), 0);
  ASSERT_EQ(sys::SetAttributes(path, sys::kAttrReadOnly | sys::kAttrHidden), 0);
  std::uint32_t attributes = 0;
  ASSERT_EQ(sys::GetAttributes(path, attributes), 0);
  EXPECT_EQ(attributes & (sys::kAttrReadOnly | sys::kAttrHidden), sys::kAttrReadOnly | sys::kAttrHidden);
  EXPECT_EQ(sys::ReplaceFile(path, Bytes{'2'}), EACCES);
  EXPECT_EQ(sys::RemoveFile(path), EACCES);
  EXPECT_EQ(sys::Access(path, 2), EACCES);
  ASSERT_EQ(sys::SetAttributes(path, sys::kAttrHidden), 0);
  ASSERT_EQ(sys::ReplaceFile(path, Bytes{'2'}), 0);
  ASSERT_EQ(sys::GetAttributes(path, attributes), 0);
  EXPECT_TRUE(attributes & sys::kAttrHidden) << "a replaced file keeps its attributes";
  EXPECT_EQ(test::ReadBytes(test::U8(path)), Bytes{'2'});
}

TEST(Win32Files, CopyAndMoveKeepTheirPromises) {
  const std::u16string folder = TestFolderU16();
  const std::u16string a = folder + u"a.txt", b = folder + u"b.txt", c = folder + u"c.txt";
  ASSERT_EQ(sys::ReplaceFile(a, Bytes{'a'}), 0);
  ASSERT_EQ(sys::SetFileTimes(a, 1000000000, 1200000000), 0);
  ASSERT_EQ(sys::CopyFile(a, b, true), 0);
  EXPECT_EQ(sys::CopyFile(a, b, true), EEXIST);
  sys::StatRecord record;
  ASSERT_EQ(sys::Stat(b, record), 0);
  EXPECT_EQ(record.modify_time, 1200000000) << "a copy keeps the modification time";
  EXPECT_EQ(sys::MoveFile(a, b), EEXIST);
  EXPECT_EQ(sys::MoveFile(a, c), 0);
  bool same = true;
  ASSERT_EQ(sys::SameFile(b, c, same), 0);
  EXPECT_FALSE(same);
  ASSERT_EQ(sys::SameFile(c, folder + u".\\c.txt", same), 0);
  EXPECT_TRUE(same);
}

// --- the walk of a folder tree -----------------------------------------------------------------------------

bool IsReparsePoint(const std::u16string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a command line and waits for its end.
void Run(std::wstring line, const wchar_t* program = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
    return;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

// Runs a POSIX program on POSIX paths under Wine, which starts such programs like its own, and waits until
// `done` holds (Wine may answer before the program has ended), a minute at most. False outside Wine.
template <typename Done>
bool RunPosix(const char* program, const char* options, const std::u16string& a, const std::u16string& b, Done done) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return false;
  std::string line = std::string(program) + " " + options;
  for (const std::u16string* path : {&a, &b}) {
    if (path->empty()) continue;
    char* name = unix_name(Wide(*path).c_str());
    if (name) line += std::string(" \"") + name + "\"";
    ::HeapFree(::GetProcessHeap(), 0, name);
  }
  const std::wstring file = L"Z:\\bin\\" + std::wstring(program, program + std::strlen(program));
  Run(std::wstring(line.begin(), line.end()), file.c_str());
  for (int waited = 0; waited < 6000 && !done(); ++waited) ::Sleep(10);
  return done();
}

// Makes `link` lead to the folder `target`: a junction (mklink /J) or a symbolic link to a folder. Wine makes
// neither (its calls answer success and leave nothing) but shows a POSIX link as a reparse point, so there the
// link is made by the system's ln. False when no link could be made.
bool MakeFolderLink(const std::u16string& link, const std::u16string& target, bool junction) {
  if (junction) {
    Run(L"cmd.exe /D /C mklink /J \"" + Wide(link) + L"\" \"" + Wide(target) + L"\"");
  } else {
    ::CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2);  // 0x2: allowed without elevation
  }
  return IsReparsePoint(link) || RunPosix("ln", "-s", target, link, [&] { return IsReparsePoint(link); });
}

// Removes a link to a folder, never what it leads to.
void RemoveFolderLink(const std::u16string& link) {
  if (!::RemoveDirectoryW(Wide(link).c_str()) && !::DeleteFileW(Wide(link).c_str())) {
    RunPosix("rm", "-f", link, u"",
             [&] { return ::GetFileAttributesW(Wide(link).c_str()) == INVALID_FILE_ATTRIBUTES; });
  }
}

// ocelo-cli -r walks the folder itself: a junction or link leading out of the tree, or back into it, is
// reported and left out, as a link is on POSIX (Windows resolves "link\.." by the name, so the walk cannot
// tell a link by where its ".." leads).
TEST(Win32Walk, JunctionsAndLinksToFoldersAreLeftOut) {
  const std::u16string root = TestFolderU16();
  const std::u16string source = root + u"src";
  ASSERT_EQ(sys::MakeFolder(source), 0);
  ASSERT_EQ(sys::MakeFolder(source + u"\\sub"), 0);
  ASSERT_EQ(sys::MakeFolder(root + u"elsewhere"), 0);
  ASSERT_EQ(sys::ReplaceFile(source + u"\\a.txt", Bytes{'a'}), 0);
  ASSERT_EQ(sys::ReplaceFile(source + u"\\sub\\b.txt", Bytes{'b'}), 0);
  ASSERT_EQ(sys::ReplaceFile(root + u"elsewhere\\x.txt", Bytes{'x'}), 0);
  // "0-out" and "0-loop" come before the folders they lead to, so a walk that follows them enters them first.
  const bool made = MakeFolderLink(source + u"\\0-out", root + u"elsewhere", true) &&
                    MakeFolderLink(source + u"\\0-loop", source + u"\\sub", false);
  if (!made) {
    RemoveFolderLink(source + u"\\0-out");
    GTEST_SKIP() << "the system makes no link to a folder here";
  }
  std::vector<std::pair<WalkEntry::Kind, std::u16string>> walked;
  for (const WalkEntry& entry : WalkFolder(source, {})) walked.emplace_back(entry.kind, entry.relative);
  // The sandbox's removal must not go through them either.
  RemoveFolderLink(source + u"\\0-out");
  RemoveFolderLink(source + u"\\0-loop");
  EXPECT_FALSE(IsReparsePoint(source + u"\\0-out") || IsReparsePoint(source + u"\\0-loop"));
  const std::vector<std::pair<WalkEntry::Kind, std::u16string>> expected = {
      {WalkEntry::Kind::kLinkedFolder, u"0-loop"},
      {WalkEntry::Kind::kLinkedFolder, u"0-out"},
      {WalkEntry::Kind::kFile, u"a.txt"},
      {WalkEntry::Kind::kFile, u"sub\\b.txt"},
  };
  EXPECT_EQ(walked, expected);
  EXPECT_EQ(test::ReadBytes(test::U8(root + u"elsewhere\\x.txt")), Bytes{'x'});
}

TEST(Win32Version, TheVersionResourceReadsBackThroughGetFileVersionInfo) {
  VersionInfo info;
  ASSERT_TRUE(info.open_path(sys::ExecutablePath()));
  EXPECT_EQ(info.prefix(), u"\\StringFileInfo\\041104b0\\");
  EXPECT_EQ(info.get_file_description(), u"Ocelo test suite");
  EXPECT_EQ(info.get_original_filename(), u"ocelo_tests.exe");
  EXPECT_EQ(dotted_version(info.get_file_version()), test::U16(OCELO_VERSION) + u".0");
  EXPECT_EQ(info.query_value(u"NoSuchString"), u"");
}

TEST(Win32System, FoldersNamesAndVersion) {
  EXPECT_FALSE(sys::SpecialFolderPath(sys::kCsidlCommonDocuments).empty());
  EXPECT_FALSE(sys::LogonName().empty());
  const std::u16string self = sys::ExecutablePath();
  EXPECT_EQ(FileName(self), u"ocelo_tests.exe");
  const std::u16string temp = sys::TempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), u'\\');
  const sys::SystemRelease release = sys::SystemNameAndRelease();
  EXPECT_EQ(release.name, u"Windows NT");
  EXPECT_NE(release.release.find(u'.'), std::u16string::npos);
  sys::SetEnvironment(u"OCELO_WIN32_TEST", u"\u3042");
  EXPECT_EQ(sys::Environment(u"OCELO_WIN32_TEST"), u"\u3042");
  sys::SetEnvironment(u"OCELO_WIN32_TEST", u"");
  EXPECT_EQ(sys::Environment(u"OCELO_WIN32_TEST"), u"");
}

// --- registry -----------------------------------------------------------------------------------------------

TEST(Win32Registry, ValuesRoundTripThroughTheCurrentUsersRegistry) {
  RegistryStore store;
  const std::u16string key = u"Software\\OceloTest" + test::U16(std::to_string(::GetCurrentProcessId()));
  const std::u16string sub = key + u"\\Sub";
  ASSERT_TRUE(store.WriteString(kHkeyCurrentUser, sub, u"Text", u"\u3042\u3044"));
  ASSERT_TRUE(store.WriteInt(kHkeyCurrentUser, sub, u"Number", -7));
  ASSERT_TRUE(store.WriteDouble(kHkeyCurrentUser, sub, u"Ratio", 0.1));
  EXPECT_EQ(store.GetString(kHkeyCurrentUser, sub, u"text", u"-"), u"\u3042\u3044") << "names ignore case";
  EXPECT_EQ(store.GetInt(kHkeyCurrentUser, sub, u"Number", 0), -7);
  EXPECT_EQ(store.GetDouble(kHkeyCurrentUser, sub, u"Ratio", 0), 0.1);
  EXPECT_EQ(store.GetInt(kHkeyCurrentUser, sub, u"Text", 5), 5) << "a text is no number";
  EXPECT_EQ(store.GetLastError(), std::u16string(kNotDword) + sub + u"\\[Text]");
  std::vector<std::u16string> names;
  ASSERT_TRUE(store.EnumKeys(kHkeyCurrentUser, key, names));
  EXPECT_EQ(names, std::vector<std::u16string>{u"Sub"});
  EXPECT_FALSE(store.DeleteKey(kHkeyCurrentUser, u"Software", key.substr(9))) << "a key with subkeys stays";
  ASSERT_TRUE(store.DeleteValue(kHkeyCurrentUser, sub, u"Text"));
  EXPECT_FALSE(store.DeleteValue(kHkeyCurrentUser, sub, u"Text"));
  ASSERT_TRUE(store.DeleteKey(kHkeyCurrentUser, key, u"Sub"));
  ASSERT_TRUE(store.DeleteKey(kHkeyCurrentUser, u"Software", key.substr(9)));
  EXPECT_EQ(store.Open(kHkeyCurrentUser, key, kKeyRead, false), kNoKey);
  EXPECT_EQ(store.Open(kHkeyLocalMachine, u"Software", kKeyRead, false), kNoKey) << "the store holds HKCU only";
}

// --- code page 932 ------------------------------------------------------------------------------------------

std::u16string SystemDecode(const Bytes& bytes) {
  const int n = ::MultiByteToWideChar(932, 0, reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(932, 0, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), out.data(),
                        n);
  return std::u16string(out.begin(), out.end());
}

Bytes SystemEncode(char16_t unit) {
  const wchar_t wide = static_cast<wchar_t>(unit);
  char out[8];
  BOOL used_default = FALSE;
  const int n = ::WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, &wide, 1, out, sizeof out, "_", &used_default);
  if (n <= 0 || used_default) return Bytes{0x5F};
  return Bytes(out, out + n);
}

bool IsLead(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Every one- and two-byte sequence decodes as the system decodes it but one kind (docs/windows.md): a lead
// byte before a byte that cannot follow it. The system takes both bytes for one U+30FB; ours takes the
// lead byte alone for U+30FB and decodes the next byte by itself, so a line end or an ASCII character
// after a stray lead byte survives.
TEST(Win32Cp932, DecodingBesideMultiByteToWideChar) {
  for (unsigned b = 0; b < 256; ++b) {
    const Bytes bytes{static_cast<std::uint8_t>(b)};
    ASSERT_EQ(UnitsHex(DecodeShiftJis(bytes)), UnitsHex(SystemDecode(bytes))) << test::ToHex(bytes);
  }
  int stray_leads = 0;
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const Bytes bytes{static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)};
      const std::u16string ours = DecodeShiftJis(bytes), system = SystemDecode(bytes);
      if (ours == system) continue;
      std::u16string alone(1, u'\u30FB');
      alone += DecodeShiftJis(Bytes{static_cast<std::uint8_t>(second)});
      const bool stray_second = (second >= 0x01 && second <= 0x3F) || second == 0x7F || second >= 0xFD;
      if (IsLead(first) && stray_second && system == u"\u30FB" && ours == alone) {
        ++stray_leads;
        continue;
      }
      ADD_FAILURE() << test::ToHex(bytes) << " => " << UnitsHex(ours) << ", the system " << UnitsHex(system);
      return;
    }
  }
  // 60 lead bytes, each before the 67 bytes that no character has as its second (01..3F, 7F, FD..FF):
  // the count pins the kind down, so a new difference cannot hide in it.
  EXPECT_EQ(stray_leads, 60 * 67);
}

// Every BMP character encodes as WideCharToMultiByte encodes it without best-fit guesses, "_" where the
// code page has no character for it.
TEST(Win32Cp932, EncodingBesideWideCharToMultiByte) {
  for (unsigned u = 0; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    const char16_t unit = static_cast<char16_t>(u);
    const Bytes ours = EncodeShiftJis(std::u16string_view(&unit, 1)), system = SystemEncode(unit);
    if (ours != system) {
      ADD_FAILURE() << "U+" << std::hex << u << " => " << test::ToHex(ours) << ", the system " << test::ToHex(system);
      return;
    }
  }
}

}  // namespace
}  // namespace ocelo
