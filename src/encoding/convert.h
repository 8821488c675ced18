// Converting one file: the converted copy in the output folder, its Rescue backup, the read-back check
// with its fall-back to a plain copy, the source's modification time, and the judgement of one dropped
// file that comes first (text-file test, same-path test).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/decode.h"
#include "encoding/kinds.h"

namespace ocelo {

/// Writes the text of `source` in the `target` encoding to the output folder under the source's file
/// name. True when the copy is written, was already up to date, or had to fall back to a plain copy
/// because the conversion would lose characters (or the text stops at a zero byte before the end of the
/// file); false when it cannot be written. The new copy is checked before it replaces the old one. A source that cannot
/// be read fails before the copy is touched. Targets: 0 copy, 8 UTF-8, 16 UTF-16 with mark, 74 Shift_JIS,
/// anything else UTF-16 with mark.
bool ConvertFile(EncodingKind target, std::u16string_view source, std::u16string_view folder);

/// How converting one file ended: the one result of ConvertFileWithOutcome and ConvertOne.
enum class FileResult {
  kConverted,     ///< written in the target encoding
  kUpToDate,      ///< the copy already held the same text in the target encoding: nothing written
  kCopied,        ///< target Copy: copied unchanged
  kPlainCopy,     ///< the converted text would have lost characters, or a zero byte cut it: copied unchanged
  kNotText,       ///< not a text file: nothing written (ConvertOne only)
  kSamePath,      ///< the file already lies where its copy would go: nothing written (ConvertOne only)
  kUnreadable,    ///< the source could not be read: nothing written
  kUnableToSave,  ///< the copy could not be written
};

/// True for the results that leave a good copy in the output folder.
[[nodiscard]] bool Succeeded(FileResult result);

/// ConvertFile with its result, for callers that report more than success.
[[nodiscard]] FileResult ConvertFileWithOutcome(EncodingKind target, std::u16string_view source,
                                                std::u16string_view folder);

/// The place of a file's copy: the folder, a separator when missing, and the file's name.
///   /out + /in/a.txt => /out/a.txt      /out/ + a.txt => /out/a.txt
std::u16string CopyPath(std::u16string_view folder, std::u16string_view path);

/// True when two paths are equal as texts, or equal once both are lower-cased (A to Z).
bool IsSamePath(std::u16string_view a, std::u16string_view b);

/// One dropped file (not a folder) from judgement to copy, as the drop run and ocelo-cli take it: a file
/// that is not text and a file that already lies where its copy would go are refused first; the file is
/// read once for the text-file test and the conversion.
[[nodiscard]] FileResult ConvertOne(EncodingKind target, std::u16string_view path, std::u16string_view folder);

/// Saves an existing file into its Rescue folder, under "%Y%m%d_%H%M%S." + name (its modification time)
/// and under its own name. Returns the time-stamped path; empty when the file is missing or a copy failed.
std::u16string BackupToRescue(std::u16string_view path);

/// The Rescue folder of a path: the Rescue root under TempFolder followed by the path's folder with every
/// colon, slash and percent sign made a separator and runs of separators collapsed.
///   C:\Data\in\notes.txt => <temp>\Rescue\C\Data\in      /home/u/in/notes.txt => <temp>/Rescue/home/u/in
std::u16string RescueFolder(std::u16string_view path, bool create);

/// Sets a file's modification time (0 meaning now) and keeps its access time. True on success; on
/// failure false, with the C runtime error number kept in errno for the caller.
bool SetModifiedTime(std::u16string_view path, std::int64_t time);

}  // namespace ocelo
