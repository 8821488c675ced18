// One dropped file from judgement to copy: the text-file test, the same-path test and the conversion,
// shared by the drop run and ocelo-cli.
#pragma once

#include <string>
#include <string_view>

#include "encoding/kinds.h"

namespace ocelo {

/// How one file ended.
enum class FileResult {
  kConverted,     ///< written in the target encoding
  kUpToDate,      ///< the copy was already up to date: nothing written
  kCopied,        ///< target Copy: copied unchanged
  kPlainCopy,     ///< copied unchanged because the target encoding would lose characters
  kNotText,       ///< not a text file: nothing written
  kSamePath,      ///< the file already lies where its copy would go: nothing written
  kUnreadable,    ///< the file could not be read: nothing written
  kUnableToSave,  ///< the copy could not be written
};

/// True for the results that leave a good copy in the output folder.
bool Succeeded(FileResult result);

/// The place of a file's copy: the folder, a separator when missing, and the file's name.
///   /out + /in/a.txt => /out/a.txt      /out/ + a.txt => /out/a.txt
std::u16string CopyPath(std::u16string_view folder, std::u16string_view path);

/// True when two paths are equal as texts, or equal once both are lower-cased (A to Z).
bool IsSamePath(std::u16string_view a, std::u16string_view b);

/// Converts one file (not a folder) into the folder: not-text and same-path files are refused first.
FileResult ConvertOne(EncodingKind target, std::u16string_view path, std::u16string_view folder);

}  // namespace ocelo
