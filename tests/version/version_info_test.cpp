// Version information: the block the build embeds (an ELF section, or the VERSIONINFO resource on
// Windows), reading blocks from ELF files of either class and byte order, the diagnostics of files without
// a usable block, the About box texts, format_number.
#include "version/version_info.h"

#include <gtest/gtest.h>

#include "support/program_paths.h"
#include "support/sandbox.h"
#include "util/dump.h"
#include "version/elf_image.h"
#include "version/format_number.h"
#include "version/version_block.h"

namespace ocelo {
namespace {

using test::Bytes;
using test::MakeElf;
using test::U16;
using test::U8;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

Bytes Block(std::vector<VersionTranslation> translations) {
  static const VersionString strings[] = {{u"FileDescription", u"Vexo Clip"},
                                          {u"FileVersion", u"1, 0, 0, 1"},
                                          {u"LegalCopyright", u"(C) 2026"},
                                          {u"OriginalFilename", u"vexoclip"},
                                          {u"SpecialBuild", u""}};
  const VersionStringTable tables[] = {{{0x0411, 0x04B0}, strings}};
  return MakeVersionBlock(translations, tables);
}

std::u16string WriteFile(const Bytes& bytes) {
  const std::string path = test::TestFolder() + "/file";
  test::WriteBytes(path, bytes);
  return U16(path);
}

class VersionInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { ModulePath(); }  // its first call writes to the standard error stream
};

TEST_F(VersionInfoTest, ReadsTheBlockTheBuildEmbedded) {
  VersionInfo info;
  CaptureStderr();
  ASSERT_TRUE(info.open_path(ModulePath()));
  EXPECT_EQ(U8(info.prefix()), R"(\StringFileInfo\041104b0\)");
  EXPECT_EQ(U8(info.get_original_filename()), test::kProgramName);
  EXPECT_EQ(U8(info.get_product_name()), "Ocelo");
  EXPECT_EQ(U8(dotted_version(info.get_product_version())), OCELO_VERSION ".0");
  EXPECT_EQ(GetCapturedStderr(), "");
  std::optional<AboutBoxTexts> about = about_box_texts();
  ASSERT_TRUE(about);
  EXPECT_EQ(about->copyright, info.get_legal_copyright());
  EXPECT_EQ(U8(about->description), "Ocelo test suite  Version " OCELO_VERSION ".0");
}

TEST_F(VersionInfoTest, FilesWithoutAUsableBlock) {
  const Bytes good = Block({{0x0411, 0x04B0}});
  const Bytes elf = MakeElf(kVersionSection, good);
  Bytes bad_count = good, too_long = good;
  bad_count[8] = 0xFF;  // more translations than the block holds
  too_long[5] = 0x10;   // a length past the section's end
  // A section header that claims 512 MiB more than the file holds.
  Bytes huge = elf;
  const std::size_t size_field = 64 + std::string("\0.shstrtab\0", 11).size() + std::string(kVersionSection).size() +
                                 1 + good.size() + 2 * 64 + 32;
  huge[size_field + 3] = 0x20;
  const struct {
    const char* name;
    Bytes file;
    const char* diagnostic;
  } cases[] = {
      {"other section", MakeElf(".data", good), "::GetFileVersionInfoSize ... 0\n"},
      {"cut ELF", Bytes(elf.begin(), elf.begin() + 100), "::GetFileVersionInfoSize ... 0\n"},
      {"section past the end", huge, "::GetFileVersionInfoSize ... 0\n"},
      {"no mark", MakeElf(kVersionSection, test::Hex("00 11 22 33 44 55 66 77")), "::GetFileVersionInfo ... false\n"},
      {"bad count", MakeElf(kVersionSection, bad_count), "::GetFileVersionInfo ... false\n"},
      {"too long", MakeElf(kVersionSection, too_long), "::GetFileVersionInfo ... false\n"},
      {"no translation", MakeElf(kVersionSection, Block({})), "::VerQueryValue   len = 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VersionInfo info;
    CaptureStderr();
    EXPECT_FALSE(info.open_path(WriteFile(c.file)));
    EXPECT_EQ(U8(info.get_file_version()), "");
#ifdef _WIN32
    // The system reads the resources of executables only: an ELF file holds no version block at all.
    const std::string diagnostic = "::GetFileVersionInfoSize ... 0\n";
#else
    const std::string diagnostic = c.diagnostic;
#endif
    EXPECT_EQ(GetCapturedStderr(), diagnostic + diagnostic);  // each question tries again
  }
  VersionInfo missing;
  CaptureStderr();
  EXPECT_FALSE(missing.open_path(U16(test::TestFolder() + "/none.exe")));
  EXPECT_FALSE(missing.open_path(u""));
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(VersionInfoTest, StringsOfEitherElfClassAndByteOrder) {
#ifdef _WIN32
  GTEST_SKIP() << "the ELF reader is the POSIX build's";
#endif
  const Bytes block = Block({{0x0411, 0x04B0}, {0x0409, 0x04B0}});
  for (bool wide : {true, false}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(wide ? 64 : 32) + (big ? " big" : " little"));
      VersionInfo info;
      CaptureStderr();
      ASSERT_TRUE(info.open_path(WriteFile(MakeElf(kVersionSection, block, wide, big))));
      EXPECT_EQ(info.size(), block.size());
      EXPECT_EQ(U8(info.get_original_filename()), "vexoclip");
      EXPECT_EQ(U8(info.get_comments()), "");
      EXPECT_EQ(U8(info.get_special_build()), "");
      EXPECT_EQ(GetCapturedStderr(), "::VerQueryValue ...   Comments\n::VerQueryValue len=0 SpecialBuild\n");
    }
  }
  std::optional<AboutBoxTexts> about = about_box_texts(WriteFile(MakeElf(kVersionSection, block)));
  ASSERT_TRUE(about);
  EXPECT_EQ(U8(about->copyright), "(C) 2026");
  EXPECT_EQ(U8(about->description), "Vexo Clip  Version 1.0.0.1");
  // Strings come from the table of the first translation only.
  VersionInfo english;
  english.open_path(WriteFile(MakeElf(kVersionSection, Block({{0x0409, 0x04B0}}))));
  CaptureStderr();
  EXPECT_EQ(U8(english.get_original_filename()), "");
  EXPECT_EQ(GetCapturedStderr(), "::VerQueryValue ...   OriginalFilename\n");
}

TEST(FormatNumber, BasesWidthsAndSigns) {
  const struct {
    std::uint32_t value;
    int base, width;
    const char* text;
  } cases[] = {{1, 10, 3, "001"}, {0x04B0, 16, 4, "04b0"},           {1234, 10, 2, "1234"},
               {0, 10, 0, "0"},   {0xFFFFFFFF, 10, 0, "4294967295"}, {36, 40, 0, "10"},
               {5, 1, 0, "101"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(format_number(c.value, c.base, c.width)), c.text);
  }
  EXPECT_EQ(U8(format_number(-5, 10, 3, true)), "-005");
  EXPECT_EQ(U8(format_number(INT32_MIN, 10, 0, true)), "-2147483648");
}

}  // namespace
}  // namespace ocelo
