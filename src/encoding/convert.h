// Converting one file: the converted copy in the output folder, its Rescue backup, the read-back check
// with its fall-back to a plain copy, and the source's modification time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/decode.h"
#include "encoding/kinds.h"

namespace ocelo {

/// Writes the text of `source` in the `target` encoding to the output folder under the source's file
/// name. True when the copy is written, was already up to date, or had to fall back to a plain copy
/// because the conversion would lose characters; false when it cannot be written. A source that cannot
/// be read fails before the copy is touched. Targets: 0 copy, 8 UTF-8, 16 UTF-16 with mark, 74 Shift_JIS,
/// anything else UTF-16 with mark.
bool ConvertFile(EncodingKind target, std::u16string_view source, std::u16string_view folder);

/// How ConvertFile ended, for callers that report more than success.
enum class ConvertOutcome {
  kConverted,     ///< written in the target encoding
  kUpToDate,      ///< the copy already held the same text in the target encoding: nothing written
  kCopied,        ///< target Copy: copied unchanged
  kPlainCopy,     ///< the converted text would have lost characters: copied unchanged instead
  kUnreadable,    ///< the source could not be read: nothing written
  kUnableToSave,  ///< the copy could not be written
};

/// ConvertFile with its outcome.
ConvertOutcome ConvertFileWithOutcome(EncodingKind target, std::u16string_view source,
                                      std::u16string_view folder);

/// ConvertFileWithOutcome with the source's content already read (ReadFileContent), so a caller that
/// tested the file first reads it once.
ConvertOutcome ConvertFileWithOutcome(EncodingKind target, std::u16string_view source,
                                      std::u16string_view folder, FileContent content);

/// Saves an existing file into its Rescue folder, under "%Y%m%d_%H%M%S." + name (its modification time)
/// and under its own name. Returns the time-stamped path; empty when the file is missing or a copy failed.
std::u16string BackupToRescue(std::u16string_view path);

/// The Rescue folder of a path: the Rescue root under TempFolder followed by the path's folder with every
/// colon, slash and percent sign made a separator and runs of separators collapsed.
///   C:\Data\in\notes.txt => <temp>\Rescue\C\Data\in      /home/u/in/notes.txt => <temp>/Rescue/home/u/in
std::u16string RescueFolder(std::u16string_view path, bool create);

/// Sets a file's modification time (0 meaning now) and keeps its access time.
bool SetModifiedTime(std::u16string_view path, std::int64_t time);

}  // namespace ocelo
