// Version information: the block the build embeds, reading it from ELF files of either class and byte
// order, the diagnostics of files without a usable block, the About box texts and format_number.
#include "version/version_info.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "version/elf_image.h"
#include "util/dump.h"
#include "version/format_number.h"
#include "version/version_block.h"

namespace ocelo {
namespace {

using test::Bytes;
using test::MakeElf;
using test::U16;
using test::U8;

Bytes Block(std::vector<VersionTranslation> translations, VersionTranslation key,
            std::vector<VersionString> strings) {
  const VersionStringTable tables[] = {{key, strings}};
  return MakeVersionBlock(translations, tables);
}

const std::vector<VersionString> kStrings = {
    {u"FileDescription", u"Vexo Clip"},  {u"FileVersion", u"1, 0, 0, 1"},
    {u"LegalCopyright", u"(C) 2026"},   {u"OriginalFilename", u"vexoclip"},
    {u"SpecialBuild", u""},
};

std::u16string WriteFile(const char* name, const Bytes& bytes) {
  const std::string path = test::TestFolder() + "/" + name;
  test::WriteBytes(path, bytes);
  return U16(path);
}

class VersionInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { ModulePath(); }  // its first call writes to the standard error stream
};

TEST_F(VersionInfoTest, ReadsTheBlockTheBuildEmbedded) {
  VersionInfo info;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(info.open_path(ModulePath()));
  EXPECT_EQ(U8(info.prefix()), R"(\StringFileInfo\041104b0\)");
  EXPECT_EQ(U8(info.get_original_filename()), "ocelo_tests");
  EXPECT_EQ(U8(info.get_internal_name()), "ocelo_tests");
  EXPECT_EQ(U8(info.get_product_name()), "Ocelo");
  EXPECT_EQ(U8(info.get_file_description()), "Ocelo test suite");
  EXPECT_EQ(U8(dotted_version(info.get_file_version())), OCELO_VERSION ".0");
  EXPECT_EQ(info.get_product_version(), info.get_file_version());
  EXPECT_FALSE(info.get_legal_copyright().empty());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  std::optional<AboutBoxTexts> about = about_box_texts();
  ASSERT_TRUE(about);
  EXPECT_EQ(about->copyright, info.get_legal_copyright());
  EXPECT_EQ(U8(about->description), "Ocelo test suite  Version " OCELO_VERSION ".0");
}

TEST_F(VersionInfoTest, FilesWithoutAUsableBlock) {
  const Bytes good = Block({{0x0411, 0x04B0}}, {0x0411, 0x04B0}, kStrings);
  Bytes bad_count = good;
  bad_count[8] = 0xFF;  // more translations than the block holds
  const Bytes elf = MakeElf(kVersionSection, good);
  Bytes too_long = good;
  too_long[5] = 0x10;  // a length past the section's end
  struct Case {
    const char* name;
    Bytes file;
    const char* diagnostic;
  };
  const Case cases[] = {
      {"text", test::Hex("41 42 43 0A"), "::GetFileVersionInfoSize ... 0\n"},
      {"empty", {}, "::GetFileVersionInfoSize ... 0\n"},
      {"other section", MakeElf(".data", good), "::GetFileVersionInfoSize ... 0\n"},
      {"empty section", MakeElf(kVersionSection, {}), "::GetFileVersionInfoSize ... 0\n"},
      {"cut ELF", Bytes(elf.begin(), elf.begin() + 100),
       "::GetFileVersionInfoSize ... 0\n"},
      {"no mark", MakeElf(kVersionSection, test::Hex("00 11 22 33 44 55 66 77 88 99")),
       "::GetFileVersionInfo ... false\n"},
      {"bad count", MakeElf(kVersionSection, bad_count), "::GetFileVersionInfo ... false\n"},
      {"too long", MakeElf(kVersionSection, too_long), "::GetFileVersionInfo ... false\n"},
      {"no translation", MakeElf(kVersionSection, Block({}, {0x0411, 0x04B0}, kStrings)),
       "::VerQueryValue   len = 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VersionInfo info;
    const std::u16string path = WriteFile("file", c.file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(info.open_path(path));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.diagnostic);
    testing::internal::CaptureStderr();
    EXPECT_EQ(U8(info.get_file_version()), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.diagnostic);  // each question tries again
  }

  VersionInfo missing;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(missing.open_path(U16(test::TestFolder() + "/none.exe")));
  EXPECT_FALSE(missing.open_path(u""));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(VersionInfoTest, StringsOfEitherElfClassAndByteOrder) {
  const Bytes block = Block({{0x0411, 0x04B0}, {0x0409, 0x04B0}}, {0x0411, 0x04B0}, kStrings);
  for (bool wide : {true, false}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(wide ? 64 : 32) + (big ? " big" : " little"));
      VersionInfo info;
      testing::internal::CaptureStderr();
      ASSERT_TRUE(info.open_path(WriteFile("tool", MakeElf(kVersionSection, block, wide, big))));
      EXPECT_EQ(info.size(), block.size());
      EXPECT_EQ(U8(info.get_original_filename()), "vexoclip");
      EXPECT_EQ(U8(info.get_legal_copyright()), "(C) 2026");
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      testing::internal::CaptureStderr();
      EXPECT_EQ(U8(info.get_comments()), "");
      EXPECT_EQ(U8(info.get_special_build()), "");
      EXPECT_EQ(testing::internal::GetCapturedStderr(),
                "::VerQueryValue ...   Comments\n::VerQueryValue len=0 SpecialBuild\n");
    }
  }
  // Strings are looked up in the table of the first translation only.
  VersionInfo english;
  ASSERT_TRUE(english.open_path(
      WriteFile("en", MakeElf(kVersionSection, Block({{0x0409, 0x04B0}}, {0x0411, 0x04B0}, kStrings)))));
  EXPECT_EQ(U8(english.prefix()), R"(\StringFileInfo\040904b0\)");
  testing::internal::CaptureStderr();
  EXPECT_EQ(U8(english.get_original_filename()), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "::VerQueryValue ...   OriginalFilename\n");
}

TEST_F(VersionInfoTest, AboutBoxTexts) {
  const std::u16string path =
      WriteFile("tool", MakeElf(kVersionSection, Block({{0x0411, 0x04B0}}, {0x0411, 0x04B0}, kStrings)));
  std::optional<AboutBoxTexts> about = about_box_texts(path);
  ASSERT_TRUE(about);
  EXPECT_EQ(U8(about->copyright), "(C) 2026");
  EXPECT_EQ(U8(about->description), "Vexo Clip  Version 1.0.0.1");

  testing::internal::CaptureStderr();
  EXPECT_FALSE(about_box_texts(u""));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "::get_arv() ... empty\n");
}

TEST(FormatNumber, BasesWidthsAndSigns) {
  struct Case {
    std::uint32_t value;
    int base;
    int width;
    const char* text;
  };
  const Case cases[] = {
      {1, 10, 3, "001"},        {0x04B0, 16, 4, "04b0"},     {1234, 10, 2, "1234"},
      {0, 10, 0, "0"},          {0, 16, 4, "0000"},          {0xFFFFFFFF, 16, 0, "ffffffff"},
      {0xFFFFFFFF, 10, 0, "4294967295"}, {5, 2, 0, "101"},   {35, 36, 0, "z"},
      {36, 40, 0, "10"},        {5, 1, 0, "101"},            {7, 10, -3, "7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(format_number(c.value, c.base, c.width)), c.text);
  }
  EXPECT_EQ(U8(format_number(-5, 10, 3, true)), "-005");
  EXPECT_EQ(U8(format_number(-1, 16, 0, false)), "ffffffff");
  EXPECT_EQ(U8(format_number(INT32_MIN, 10, 0, true)), "-2147483648");
  EXPECT_EQ(U8(format_number(42, 10, 0, true)), "42");
}

}  // namespace
}  // namespace ocelo
