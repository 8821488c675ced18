// Version information: the standard strings of a file's version block (file description, version,
// copyright, original file name, ...), the texts of the About box, and version numbers as text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Reads the version block of one file (see version/version_block.h); a file that has none (not an
/// executable of ours, not ELF, no block) answers every question with an empty text. Each failure
/// writes one line to the standard error stream:
///   "::GetFileVersionInfoSize ... 0"      the file has no version block
///   "::GetFileVersionInfo ... false"      the block cannot be read or is damaged
///   "::VerQueryValue   len = 0"           the block's translation table is empty
///   "::VerQueryValue ...   " + name       the string table has no such string
///   "::VerQueryValue len=0 " + name       the string is present but empty
class VersionInfo {
 public:
  VersionInfo() = default;
  virtual ~VersionInfo() = default;

  /// Stores the path; false when it is empty or the file does not exist (no message), else `load`.
  virtual bool open_path(const std::u16string& path);
  virtual bool open_path(const char16_t* path);
  /// The value of a string of the first translation's string table; empty when absent. Loads the block
  /// first when that has not been done.
  virtual std::u16string query_value(std::u16string_view name);
  /// Reads the block and takes the string-table prefix from its first translation.
  virtual bool load();

  virtual std::u16string get_comments() { return query_value(u"Comments"); }
  virtual std::u16string get_company_name() { return query_value(u"CompanyName"); }
  virtual std::u16string get_file_description() { return query_value(u"FileDescription"); }
  virtual std::u16string get_file_version() { return query_value(u"FileVersion"); }
  virtual std::u16string get_internal_name() { return query_value(u"InternalName"); }
  virtual std::u16string get_legal_copyright() { return query_value(u"LegalCopyright"); }
  virtual std::u16string get_legal_trademarks() { return query_value(u"LegalTrademarks"); }
  virtual std::u16string get_original_filename() { return query_value(u"OriginalFilename"); }
  virtual std::u16string get_private_build() { return query_value(u"PrivateBuild"); }
  virtual std::u16string get_product_name() { return query_value(u"ProductName"); }
  virtual std::u16string get_product_version() { return query_value(u"ProductVersion"); }
  virtual std::u16string get_special_build() { return query_value(u"SpecialBuild"); }

  const std::u16string& path() const { return path_; }
  /// The block's size in bytes; 0 until loaded.
  std::uint32_t size() const { return size_; }
  /// "\StringFileInfo\041104b0\" for language 0x0411 and code page 0x04B0; empty until loaded.
  const std::u16string& prefix() const { return prefix_; }

 private:
  std::u16string path_;
  std::uint32_t handle_ = 0;
  std::uint32_t size_ = 0;
  std::vector<std::uint8_t> data_;
  std::u16string prefix_;
};

/// The two texts of the About box.
struct AboutBoxTexts {
  std::u16string copyright;    ///< the "LegalCopyright" string
  std::u16string description;  ///< "FileDescription" + "  Version " + dotted FileVersion
};

/// The About box texts of a program file; none (with "::get_arv() ... empty" on the standard error
/// stream) when the path is empty.
std::optional<AboutBoxTexts> about_box_texts(std::u16string_view program_path);

/// The About box texts of the running program.
std::optional<AboutBoxTexts> about_box_texts();

/// A version string with its spaces removed and each "," turned into ".".
///   "1, 0, 0, 1" => "1.0.0.1"
std::u16string dotted_version(std::u16string_view version);

}  // namespace ocelo
