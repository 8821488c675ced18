// Converting one file: the converted copy in the output folder, its Rescue backup, the read-back check
// with its fall-back to a plain copy, the source's modification time, and the judgement of one dropped
// file that comes first (text-file test, same-path test).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  kSamePath,      ///< the file already lies where its copy would go: nothing written
  kUnreadable,    ///< the source could not be read: nothing written
  kUnableToSave,  ///< the copy could not be written
  kBackupFailed,  ///< an existing copy could not be saved into its Rescue folder: it is left as it was
};

/// True for the results that leave a good copy in the output folder.
[[nodiscard]] bool Succeeded(FileResult result);

/// ConvertFile with its result, for callers that report more than success.
[[nodiscard]] FileResult ConvertFileWithOutcome(EncodingKind target, std::u16string_view source,
                                                std::u16string_view folder);

/// The place of a file's copy: the folder, a separator when missing, and the file's name.
///   /out + /in/a.txt => /out/a.txt      /out/ + a.txt => /out/a.txt
std::u16string CopyPath(std::u16string_view folder, std::u16string_view path);

/// Whether the copy of `source` in `folder` would be the source itself: the two paths name one file
/// (device and inode, links followed), or, while the copy does not exist yet, the folder is the source's
/// own. Letter case counts only where the file system ignores it.
///   /w + /w/a.txt => true      /w/. + /w/a.txt => true      /w/link-to-w + /w/a.txt => true
///   /w/CS + /w/cs/x.txt => false on a file system that tells case apart
bool CopiesOntoItself(std::u16string_view source, std::u16string_view folder);

/// One dropped file (not a folder) from judgement to copy, as the drop run and ocelo-cli take it: a file
/// that is not text and a file that already lies where its copy would go are refused first; the file is
/// read once for the text-file test and the conversion.
[[nodiscard]] FileResult ConvertOne(EncodingKind target, std::u16string_view path, std::u16string_view folder);

/// Groups the durability of the conversions made while it lives (one run of ocelo-cli, one drop): each
/// copy is written and checked as ConvertOne does, and so are the Rescue backups of the copies it
/// replaces; then all of them are synced at once, the backups put in place and their folders synced, and
/// only then the copies renamed over their targets and their folders synced, at Finish or when the object
/// goes away (or earlier, when the batch is full or a copy of it is converted again). Until then each
/// copy's path shows its old content; after a crash at any moment, each holds its old or its complete new
/// content, and an old copy is gone only once its backups are durable. A copy whose backup cannot be put
/// in place then stays as it was, and Finish fails.
class ConversionBatch {
 public:
  ConversionBatch();
  ~ConversionBatch();
  ConversionBatch(const ConversionBatch&) = delete;
  ConversionBatch& operator=(const ConversionBatch&) = delete;
  /// Settles the batch; false (with a dump line) when a copy could not be put in place.
  bool Finish();

 private:
  bool finished_ = false;
};

/// One source's content converted for a stream rather than a folder (ocelo-cli's standard output): after
/// the text-file test (kNotText), `bytes` are the text in the target encoding when they decode back to
/// the text (kConverted; kCopied for target Copy), else the content's own bytes unchanged (kPlainCopy: the
/// target cannot hold a character, or a zero byte cut the text). kUnreadable when the content was not
/// read; kUnableToSave when memory ran out. No backup, no time: there is no file.
[[nodiscard]] FileResult ConvertToBytes(EncodingKind target, std::u16string_view path, const FileContent& content,
                                        std::vector<std::uint8_t>& bytes);

/// Saves an existing file into its Rescue folder, under "%Y%m%d_%H%M%S." + name (its modification time)
/// and under its own name; a time-stamped name longer than one name may be (255 bytes in the system's
/// form) keeps its stamp and extension and shortens the rest (BackupName). Returns the time-stamped path;
/// empty when the file is missing, it has no Rescue folder, or a copy failed or does not read back
/// with the file's size. In a ConversionBatch the copies wait in the batch, which puts them in place and
/// makes them durable before it replaces the file (sys::BackUpFile).
std::u16string BackupToRescue(std::u16string_view path);

/// The time-stamped backup name of a file named `name`: `stamp` + `name` when that fits in 255 bytes of
/// the system's form; else `stamp`, the name's title cut at a character boundary, "~", eight hex digits of
/// a hash of the whole name, and the name's extension, at most 255 bytes in all.
///   20240131_235959. + notes.txt => 20240131_235959.notes.txt
///   20240131_235959. + (250 x "a").txt => 20240131_235959.(226 x "a")~1a2b3c4d.txt
std::u16string BackupName(std::u16string_view stamp, std::u16string_view name);

/// The Rescue folder of a path: the Rescue root under TempFolder followed by the path's folder, made
/// absolute and normalised first, with every colon, slash and percent sign made a separator and runs of
/// separators collapsed. Empty when a piece of that mirror is "." or ".." (a folder named "a:.." on
/// POSIX), so a backup never lands outside the Rescue root.
///   C:\Data\in\notes.txt => <temp>\Rescue\C\Data\in      /home/u/in/notes.txt => <temp>/Rescue/home/u/in
///   notes.txt in /w => <temp>/Rescue/w      /srv/a:../x.txt => (empty)
std::u16string RescueFolder(std::u16string_view path, bool create);

/// Sets a file's modification time (0 meaning now) and keeps its access time. True on success; on
/// failure false, with the C runtime error number kept in errno for the caller.
bool SetModifiedTime(std::u16string_view path, std::int64_t time);

}  // namespace ocelo
