// Settings file names and folders, the one-time conversion of older files, the registry records.
#include "settings/ini_path.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/paths.h"
#include "platform/system.h"
#include "settings/profile.h"
#include "settings/registry.h"
#include "settings/settings_files.h"
#include "util/dump.h"

namespace ocelo {
namespace {

using namespace test;

TEST(IniPath, JoinPathTrimsSeparatorsAndJoinsWithOne) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    PathStyle style;
    const char16_t* joined;
  } cases[] = {
      {u"Vexo", u"_Setting", PathStyle::kPosix, u"Vexo/_Setting"},
      {u"//a//", u"/b/", PathStyle::kPosix, u"a/b"},
      {u"", u"/b", PathStyle::kPosix, u"b"},
      {u"a/", u"", PathStyle::kPosix, u"a"},
      {u"a\\", u"b", PathStyle::kPosix, u"a\\/b"},
      {u"\\Vexo\\", u"/_Setting", PathStyle::kWindows, u"Vexo\\_Setting"},
      {u"/", u"\\", PathStyle::kWindows, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.a) + " + " + U8(c.b));
    EXPECT_EQ(JoinPath(c.a, c.b, c.style), c.joined);
  }
}

TEST(IniPath, HeaderLinesAreFixedText) {
  const std::string rule = ";" + std::string(69, '-') + "\r\n";
  EXPECT_EQ(U8(IniHeader(u"2024/01/02 03:04:05")), rule + ";\t2024/01/02 03:04:05\r\n" + rule);
}

TEST(IniPath, DefaultFolderIsTheFamilyFolderUnderDocuments) {
  OwnFolders own;
  const std::string data = own.Root() + "/data";
  EXPECT_EQ(Slashes(U8(DefaultIniFolder())), data + "/Temp/Vexo/_Setting");
  EXPECT_TRUE(std::filesystem::is_directory(data + "/Temp/Vexo/_Setting"));
  // The folder directly under documents takes over as soon as it exists.
  std::filesystem::create_directories(data + "/Vexo/_Setting");
  EXPECT_EQ(Slashes(U8(DefaultIniFolder())), data + "/Vexo/_Setting");
}

TEST(IniPath, RegistryNamesTheBaseAndOverridesTheFolder) {
  OwnFolders own;
  const std::string data = own.Root() + "/data";
  EXPECT_EQ(Slashes(U8(IniFolder())), data + "/Temp/Vexo/_Setting");
  RegistryStore store;
  EXPECT_EQ(store.GetString(kHkeyCurrentUser, u"Software\\Vexo", u"RegKey_Base は", u""), u"Vexo");
  EXPECT_EQ(Slashes(U8(store.GetString(kHkeyCurrentUser, u"Software\\Vexo\\Vexo", u"IniFullBase は", u""))),
            data + "/Temp/Vexo/_Setting");

  // A base name in the unnamed value of Software\Vexo moves the key; IniFullBase there moves the folder.
  ASSERT_TRUE(store.WriteString(kHkeyCurrentUser, u"Software\\Vexo", u"", u"Family"));
  ASSERT_TRUE(
      store.WriteString(kHkeyCurrentUser, u"Software\\Family\\Vexo", u"IniFullBase", U16(own.Root() + "/elsewhere")));
  ResetRegKeyBase();
  EXPECT_EQ(RegKeyBase(), u"Family");
  EXPECT_EQ(Slashes(U8(IniFolder())), own.Root() + "/elsewhere");
  EXPECT_EQ(Slashes(U8(store.GetString(kHkeyCurrentUser, u"Software\\Family\\Vexo", u"IniFullBase は", u""))),
            own.Root() + "/elsewhere");
  EXPECT_EQ(Slashes(U8(ResolveIniPath(u"Tool"))), own.Root() + "/elsewhere/Tool.ini");
}

TEST(IniPath, NamesResolveToIniFiles) {
  OwnFolders own;
  const std::string folder = own.Root() + "/data/Temp/Vexo/_Setting";
  const std::string title = U8(FileTitle(sys::ExecutablePath()));
  struct Case {
    std::string name;
    std::string path;
  } cases[] = {
      {"Vexo", folder + "/Vexo.ini"},
      {"a.INI", folder + "/a.INI"},
      {"notes.txt", folder + "/notes.txt.ini"},
      {"", folder + "/" + title + ".ini"},
      {Native(own.Root() + "/own/sub/Tool"), own.Root() + "/own/sub/Tool.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Slashes(U8(ResolveIniPath(U16(c.name)))), c.path);
  }
  // The folder of a name with a path is created; a Profile's name gets ".ini" before resolution.
  EXPECT_TRUE(std::filesystem::is_directory(own.Root() + "/own/sub"));
  EXPECT_EQ(Slashes(U8(Profile(u"Vexo").GetName())), folder + "/Vexo.ini");
  EXPECT_EQ(Slashes(U8(Profile(u"x.ini").GetName())), folder + "/x.ini.ini");
  EXPECT_EQ(Slashes(U8(Profile(u"").GetName())), folder + "/" + title + ".ini");
}

TEST(IniPath, OlderFilesBecomeUtf16OnceWithTheHeader) {
  OwnFolders own;
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"sjis", Raw("[S]\r\nk=\x82\xA0\r\n")},
      {"utf8", Raw("\xEF\xBB\xBF[S]\r\nk=\xE3\x81\x82\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = own.Root() + "/" + c.name + ".ini";
    WriteBytes(path, c.bytes);
    const std::u16string before = FormatNow(u"%Y/%m/%d %H:%M:%S");
    ResolveIniPath(U16(Native(own.Root() + "/" + c.name)));
    const std::u16string after = FormatNow(u"%Y/%m/%d %H:%M:%S");
    const std::string bytes = ToHex(ReadBytes(path));
    const std::string expected_before = ToHex(MarkedUtf16(IniHeader(before) + u"[S]\r\nk=\u3042\r\n"));
    const std::string expected_after = ToHex(MarkedUtf16(IniHeader(after) + u"[S]\r\nk=\u3042\r\n"));
    EXPECT_TRUE(bytes == expected_before || bytes == expected_after) << bytes;
    // Once UTF-16, a file is left alone, and a Profile reads it.
    const Bytes converted = ReadBytes(path);
    Profile profile(U16(Native(own.Root() + "/" + c.name)));
    EXPECT_EQ(ReadBytes(path), converted);
    EXPECT_EQ(profile.GetString(u"S", u"k", u""), u"\u3042");
  }
  // A big-endian file is UTF-16 already.
  const std::string be = own.Root() + "/be.ini";
  WriteBytes(be, Hex("FE FF 00 5B 00 53 00 5D"));
  ResolveIniPath(U16(Native(be)));
  EXPECT_EQ(ToHex(ReadBytes(be)), "FE FF 00 5B 00 53 00 5D");
}

}  // namespace
}  // namespace ocelo
