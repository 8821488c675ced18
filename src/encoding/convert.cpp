// Converting one file: the up-to-date test, the Rescue backups, the writer per target, the read-back
// check with its plain-copy fall-back, and the copied modification time.
#include "encoding/convert.h"

#include <cerrno>
#include <new>
#include <utility>
#include <vector>

#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/write.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/paths.h"
#include "util/policy.h"

namespace ocelo {
namespace {

// A path's modification time; 0 when its status cannot be read.
std::int64_t ModifiedTime(std::u16string_view path) {
  const FileStatus status(path);
  return status.Failed() ? 0 : status.ModifyTime();
}

bool WriteAs(EncodingKind target, std::u16string_view path, std::u16string_view text) {
  switch (target) {
    case kind::Utf8:
      return WriteUtf8File(path, text, false);
    case kind::Utf16Le:
      return WriteUtf16File(path, text, true);
    case kind::ShiftJis:
      return WriteShiftJisFile(path, text);
    default:  // no selection (-1) and unknown kinds
      return WriteUtf16MarkedFile(path, text);
  }
}

ConvertOutcome Convert(EncodingKind target, std::u16string_view source_path, std::u16string_view folder,
                       FileContent source) {
  const std::u16string dest = AddSlash(folder, kPathSeparator) + FileName(source_path);
  const std::int64_t source_time = ModifiedTime(source_path);
  // Only the text is needed from here on; the bytes' memory takes the copy read back.
  std::vector<std::uint8_t> buffer = std::move(source.bytes);

  // Up to date: same time, same text, and already in the target encoding. The cheap tests go first.
  if (ModifiedTime(dest) == source_time && source.exists && FileExists(dest)) {
    ReadFileBytesInto(dest, buffer);
    if (DetectEncoding(buffer).kind == target && DecodesTo(buffer, source.text)) return ConvertOutcome::kUpToDate;
  }

  if (target == kind::Copy) {
    return CopyFileTo(source_path, dest, false) ? ConvertOutcome::kCopied : ConvertOutcome::kUnableToSave;
  }
  // A source that cannot be read would otherwise overwrite the copy with the output of an empty text.
  if (!source.readable) return ConvertOutcome::kUnreadable;

  BackupToRescue(dest);
  if (!WriteAs(target, dest, source.text)) return ConvertOutcome::kUnableToSave;

  // Read back: the copy must give the source's text again.
  ConvertOutcome outcome = ConvertOutcome::kConverted;
  bool same = false;
  if (FileExists(dest) && FileExists(source_path)) {
    ReadFileBytesInto(dest, buffer);
    same = DecodesTo(buffer, source.text);
  }
  std::vector<std::uint8_t>().swap(buffer);
  if (!same) {
    // The target encoding lost characters: an unchanged copy keeps them all.
    if (!CopyFileTo(source_path, dest, false)) return ConvertOutcome::kUnableToSave;
    outcome = ConvertOutcome::kPlainCopy;
  }
  if (ModifiedTime(dest) != source_time) SetModifiedTime(dest, source_time);
  return outcome;
}

}  // namespace

ConvertOutcome ConvertFileWithOutcome(EncodingKind target, std::u16string_view source,
                                      std::u16string_view folder) {
  return ConvertFileWithOutcome(target, source, folder, ReadFileContent(source));
}

ConvertOutcome ConvertFileWithOutcome(EncodingKind target, std::u16string_view source,
                                      std::u16string_view folder, FileContent content) {
  try {
    return Convert(target, source, folder, std::move(content));
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't convert, out of memory  " + std::u16string(source));
    return ConvertOutcome::kUnableToSave;
  }
}

bool ConvertFile(EncodingKind target, std::u16string_view source, std::u16string_view folder) {
  switch (ConvertFileWithOutcome(target, source, folder)) {
    case ConvertOutcome::kConverted:
    case ConvertOutcome::kUpToDate:
    case ConvertOutcome::kCopied:
    case ConvertOutcome::kPlainCopy:
      return true;
    default:
      return false;
  }
}

std::u16string BackupToRescue(std::u16string_view path) {
  if (!FileExists(path)) return {};
  const std::u16string folder = RescueFolder(path, true);
  const std::u16string plain = AddSlash(folder, kPathSeparator) + FileName(path);
  const std::u16string stamped = AddSlash(FolderPart(plain), kPathSeparator) +
                                 FormatTime(ModifiedTime(path), u"%Y%m%d_%H%M%S.") + FileName(plain);
  if (!CopyFileTo(path, stamped, false)) return {};
  if (!CopyFileTo(path, plain, false)) return {};
  return stamped;
}

std::u16string RescueFolder(std::u16string_view path, bool create) {
  const std::u16string separator(1, kPathSeparator);
  const std::u16string folder = FileStatus(path).IsFolder() ? std::u16string(path) : FolderPart(path);
  std::u16string mirror = JoinText(SplitText(NormalizePath(folder), separator), separator);
  mirror = JoinText(SplitText(mirror, u"/:%"), separator);
  const std::u16string root = AddSlash(TempFolder(), kPathSeparator) + u"Rescue" + separator;
  std::u16string result = NormalizePath(root + mirror);
  if (create && !FolderExists(result)) CreateFolderTree(result);
  return result;
}

bool SetModifiedTime(std::u16string_view path, std::int64_t time) {
  const FileStatus status(path);
  if (status.Failed()) {
    errno = status.Error();
    return false;
  }
  const int error = sys::SetFileTimes(path, status.AccessTime(), time == 0 ? Now() : time);
  if (error != 0) errno = error;
  return error == 0;
}

}  // namespace ocelo
