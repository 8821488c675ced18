// What the file system says about one path: its status (`FileStatus`), its attributes
// (`FileAttributes`), and opening it as a C stream (`OpenFile`).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"

namespace ocelo {

/// The status of one path, taken once at construction. Sizes and times are 64-bit.
class FileStatus {
 public:
  explicit FileStatus(std::u16string_view path);
  virtual ~FileStatus() = default;

  virtual bool Failed() const { return error_ != 0; }
  virtual std::int64_t Size() const { return record_.size; }
  virtual std::int64_t AccessTime() const { return record_.access_time; }
  virtual std::int64_t ModifyTime() const { return record_.modify_time; }
  virtual std::int64_t ChangeTime() const { return record_.change_time; }
  virtual std::uint16_t Mode() const { return static_cast<std::uint16_t>(record_.mode); }
  virtual bool IsFile() const { return (record_.mode & 0xF000) == 0x8000; }
  virtual bool IsFolder() const { return (record_.mode & 0xF000) == 0x4000; }

  /// The C error number of a failed query, 0 after a successful one.
  int Error() const { return error_; }

 private:
  sys::StatRecord record_;
  int error_ = 0;
};

/// A path in normalised form and its Windows-style attribute word, read once at construction.
class FileAttributes {
 public:
  explicit FileAttributes(std::u16string_view path);
  virtual ~FileAttributes() = default;

  virtual bool Failed() const { return attributes_ == sys::kInvalidAttributes; }
  virtual std::uint32_t Attributes() const { return attributes_; }
  virtual std::u16string Path() const { return path_; }
  virtual std::uint32_t Has(std::uint32_t mask) const { return attributes_ & mask; }
  /// Clear and Set write from the word read at construction; they do not read the attributes again.
  virtual bool Clear(std::uint32_t mask);
  virtual bool Set(std::uint32_t mask);
  virtual bool MakeWritable() { return ClearIfSet(sys::kAttrReadOnly | sys::kAttrHidden | sys::kAttrSystem); }
  virtual bool ClearIfSet(std::uint32_t mask);

 private:
  std::u16string path_;
  std::uint32_t attributes_ = sys::kInvalidAttributes;
};

/// `_wfopen` of the path with a C mode text ("rb", "wb", "ab"); none when the path is empty.
/// Reading takes a shared lock and writing an exclusive one; a busy lock fails the open.
[[nodiscard]] std::FILE* OpenFile(std::u16string_view path, const char* mode);

/// OpenFile that also tells why an open failed: `error` is 0 with a stream, else the C error number
/// (EBUSY for a busy lock, ENOENT for an empty path, which the system is never asked about).
[[nodiscard]] std::FILE* OpenFile(std::u16string_view path, const char* mode, int& error);

/// The characters of a narrow string as bytes, without terminator.
std::vector<std::uint8_t> ToBytes(std::string_view text);

}  // namespace ocelo
