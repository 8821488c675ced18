// FileStatus, FileAttributes and OpenFile over real files in the sandbox.
#include "util/file_status.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/program_paths.h"
#include "support/sandbox.h"

namespace ocelo {
namespace {

using test::U16;
using test::U8;

TEST(FileStatus, FileFolderAndFailures) {
  const std::string folder = test::TestFolder();
  test::WriteText(folder + "/f.txt", "12345");
  struct Case {
    std::string path;
    int error;
    bool is_file;
    bool is_folder;
    std::int64_t size;
  };
  const Case cases[] = {
      {folder + "/f.txt", 0, true, false, 5},
      {folder, 0, false, true, -1},
      {folder + "/", 0, false, true, -1},
      {folder + "/missing", ENOENT, false, false, 0},
      {folder + "/f.txt/x", ENOTDIR, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const FileStatus status(U16(c.path));
    EXPECT_EQ(status.Error(), c.error);
    EXPECT_EQ(status.Failed(), c.error != 0);
    EXPECT_EQ(status.IsFile(), c.is_file);
    EXPECT_EQ(status.IsFolder(), c.is_folder);
    if (c.size >= 0) {
      EXPECT_EQ(status.Size(), c.size);
    }
    if (c.error) {
      EXPECT_EQ(status.Mode() | status.ModifyTime() | status.AccessTime(), 0);
    }
  }
}

TEST(FileAttributes, NormalisedPathKeptOnlyOnSuccess) {
  const std::string folder = test::TestFolder();
  test::WriteText(folder + "/f.txt", "x");
  const struct {
    std::string path;
    std::string kept;
    std::uint32_t attributes;
  } cases[] = {
#ifdef _WIN32
      {folder + "//f.txt", folder + "/f.txt", 0x20},  // the system's word: a new file is marked for archiving
#else
      {folder + "//f.txt", folder + "/f.txt", sys::kAttrNormal},
      {"/", "/", sys::kAttrDirectory},
#endif
      {folder + "/", folder, sys::kAttrDirectory},
      {folder + "/missing", "", sys::kInvalidAttributes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const FileAttributes attributes(U16(c.path));
    EXPECT_EQ(test::Slashed(attributes.Path()), c.kept);
    EXPECT_EQ(attributes.Attributes(), c.attributes);
    EXPECT_EQ(attributes.Failed(), c.attributes == sys::kInvalidAttributes);
  }
  FileAttributes missing(U16(folder + "/missing"));
  EXPECT_FALSE(missing.Set(sys::kAttrReadOnly));
}

TEST(FileAttributes, ReadOnlyComesAndGoes) {
  const std::string path = test::TestFolder() + "/f.txt";
  test::WriteText(path, "x");
  FileAttributes writable(U16(path));
  EXPECT_TRUE(writable.ClearIfSet(sys::kAttrReadOnly));  // nothing to clear
  ASSERT_TRUE(writable.Set(sys::kAttrReadOnly));
  int error = 0;
  EXPECT_EQ(OpenFile(U16(path), "wb", error), nullptr);
  EXPECT_EQ(error, EACCES);

  FileAttributes read_only(U16(path));
  EXPECT_NE(read_only.Has(sys::kAttrReadOnly), 0u);
  ASSERT_TRUE(read_only.MakeWritable());
  EXPECT_FALSE(FileAttributes(U16(path)).Has(sys::kAttrReadOnly));
  std::FILE* stream = OpenFile(U16(path), "wb");
  EXPECT_NE(stream, nullptr);
  if (stream) std::fclose(stream);
}

TEST(OpenFile, EmptyPathAndBytes) {
  int error = 0;
  EXPECT_EQ(OpenFile(u"", "rb", error), nullptr);  // nothing is asked of the system
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(ToBytes(std::string_view("a\0\xFF", 3)), (std::vector<std::uint8_t>{0x61, 0x00, 0xFF}));
  EXPECT_TRUE(ToBytes("").empty());
}

}  // namespace
}  // namespace ocelo
