// Converting one file: the up-to-date test, the Rescue backups, the writer per target, the read-back
// check with its plain-copy fall-back, and the copied modification time.
#include "encoding/convert.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/text_file.h"
#include "encoding/write.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "base/paths.h"
#include "util/policy.h"
#include "util/strings.h"

namespace ocelo {
namespace {

// A path's modification time; 0 when its status cannot be read.
std::int64_t ModifiedTime(std::u16string_view path) {
  const FileStatus status(path);
  return status.Failed() ? 0 : status.ModifyTime();
}

// The content of the writer that the target picks.
ContentProducer ContentAs(EncodingKind target, std::u16string_view text) {
  switch (target) {
    case kind::Utf8:
      return Utf8Content(text, false);
    case kind::Utf16Le:
      return Utf16Content(text, true);
    case kind::ShiftJis:
      return ShiftJisContent(text);
    default:  // no selection (-1) and unknown kinds
      return Utf16MarkedContent(text);
  }
}

// The source's bytes as they were read, written unchanged: the plain copy needs no second read of a
// source that may be a pipe, or gone by now. Checked like a conversion before it replaces the copy.
bool WriteUnchanged(std::u16string_view dest, std::span<const std::uint8_t> bytes) {
  const CheckedWrite written = WriteCheckedContent(
      dest, [&](const ContentSink& sink) { return sink(bytes); },
      [&](std::span<const std::uint8_t> back) { return std::ranges::equal(back, bytes); });
  if (written == CheckedWrite::kRefused) DumpText(u"Can't write, the copy read back differs  " + std::u16string(dest));
  return written == CheckedWrite::kWritten;
}

FileResult Convert(EncodingKind target, std::u16string_view source_path, std::u16string_view folder,
                       FileContent source) {
  const std::u16string dest = AddSlash(folder, kPathSeparator) + FileName(source_path);
  const std::int64_t source_time = ModifiedTime(source_path);
  std::vector<std::uint8_t> buffer;

  // Up to date: same time, same text, and already in the target encoding. The cheap tests go first.
  if (ModifiedTime(dest) == source_time && source.readable && source.whole && FileExists(dest)) {
    if (ReadFileBytesInto(dest, buffer) && DetectEncoding(buffer).kind == target && DecodesTo(buffer, source.text)) {
      return FileResult::kUpToDate;
    }
  }
  std::vector<std::uint8_t>().swap(buffer);

  if (target == kind::Copy) {
    // A pipe or /proc file cannot be read again: its copy is the bytes already read.
    if (FileStatus(source_path).IsFile()) {
      return CopyFileTo(source_path, dest, false) ? FileResult::kCopied : FileResult::kUnableToSave;
    }
    if (!source.readable) return FileResult::kUnreadable;
    if (!WriteUnchanged(dest, source.bytes)) return FileResult::kUnableToSave;
    if (ModifiedTime(dest) != source_time) SetModifiedTime(dest, source_time);
    return FileResult::kCopied;
  }
  // A source that cannot be read would otherwise overwrite the copy with the output of an empty text.
  if (!source.readable) return FileResult::kUnreadable;

  BackupToRescue(dest);
  // The copy is checked before it replaces the old one: the text read back from the new file must be
  // the source's text, else the old copy stays and the fall-back below writes the source unchanged. A
  // text that decoding cut at a zero byte is not the file's, and goes straight to the fall-back.
  FileResult outcome = FileResult::kConverted;
  CheckedWrite written = CheckedWrite::kRefused;
  if (source.whole) {
    written = WriteCheckedContent(dest, ContentAs(target, source.text), [&](std::span<const std::uint8_t> back) {
      return DecodesTo(back, source.text);
    });
  }
  if (written == CheckedWrite::kFailed) return FileResult::kUnableToSave;
  if (written == CheckedWrite::kRefused) {
    // The target encoding lost characters, or the text is not all of the file: an unchanged copy keeps
    // everything.
    if (!WriteUnchanged(dest, source.bytes)) return FileResult::kUnableToSave;
    outcome = FileResult::kPlainCopy;
  }
  if (ModifiedTime(dest) != source_time) SetModifiedTime(dest, source_time);
  return outcome;
}

// Convert, with an allocation that fails on the way a clean failure.
FileResult ConvertContent(EncodingKind target, std::u16string_view source, std::u16string_view folder,
                          FileContent content) {
  try {
    return Convert(target, source, folder, std::move(content));
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't convert, out of memory  " + std::u16string(source));
    return FileResult::kUnableToSave;
  }
}

}  // namespace

bool Succeeded(FileResult result) {
  return result == FileResult::kConverted || result == FileResult::kUpToDate || result == FileResult::kCopied ||
         result == FileResult::kPlainCopy;
}

FileResult ConvertFileWithOutcome(EncodingKind target, std::u16string_view source, std::u16string_view folder) {
  return ConvertContent(target, source, folder, ReadFileContent(source));
}

bool ConvertFile(EncodingKind target, std::u16string_view source, std::u16string_view folder) {
  return Succeeded(ConvertFileWithOutcome(target, source, folder));
}

std::u16string CopyPath(std::u16string_view folder, std::u16string_view path) {
  return AddSlash(folder, kPathSeparator) + FileName(path);
}

bool IsSamePath(std::u16string_view a, std::u16string_view b) { return a == b || ToLower(a) == ToLower(b); }

FileResult ConvertOne(EncodingKind target, std::u16string_view path, std::u16string_view folder) {
  FileContent content = ReadFileContent(path);
  if (!IsTextFile(path, content)) return FileResult::kNotText;
  if (IsSamePath(path, CopyPath(folder, path))) return FileResult::kSamePath;
  return ConvertContent(target, path, folder, std::move(content));
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
  // On failure the C runtime error number is left in errno: that is what a caller of this function sees
  // of the failure, as the runtime's own `_wutime` leaves it.
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
