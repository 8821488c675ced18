// Converting one file: the up-to-date test, the Rescue backups, the writer per target, the read-back
// check with its plain-copy fall-back, and the copied modification time.
#include "encoding/convert.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "base/paths.h"
#include "base/utf.h"
#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/stream.h"
#include "encoding/text_file.h"
#include "encoding/write.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/policy.h"

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
    case kind::Utf8: return Utf8Content(text, false);
    case kind::Utf16Le: return Utf16Content(text, true);
    case kind::ShiftJis: return ShiftJisContent(text);
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
  const std::u16string dest = CopyPath(folder, source_path);
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

  // An existing copy is replaced only once its backup lies safe in the Rescue folder. A folder where the
  // copy would go is left to the writer, which cannot replace it.
  const FileStatus existing(dest);
  if (!existing.Failed() && !existing.IsFolder() && BackupToRescue(dest).empty()) {
    DumpText(u"Can't back up the existing copy  " + dest);
    return FileResult::kBackupFailed;
  }
  // The copy is checked before it replaces the old one: the text read back from the new file must be
  // the source's text, else the old copy stays and the fall-back below writes the source unchanged. A
  // text that decoding cut at a zero byte is not the file's, and goes straight to the fall-back.
  FileResult outcome = FileResult::kConverted;
  CheckedWrite written = CheckedWrite::kRefused;
  if (source.whole) {
    written = WriteCheckedContent(dest, ContentAs(target, source.text),
                                  [&](std::span<const std::uint8_t> back) { return DecodesTo(back, source.text); });
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

// Convert, with an allocation that fails on the way a clean failure. A copy that would be written over its
// own source is refused here, where every conversion passes, whatever the caller checked before.
FileResult ConvertContent(EncodingKind target, std::u16string_view source, std::u16string_view folder,
                          FileContent content) {
  try {
    if (CopiesOntoItself(source, folder)) return FileResult::kSamePath;
    return Convert(target, source, folder, std::move(content));
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't convert, out of memory  " + std::u16string(source));
    return FileResult::kUnableToSave;
  }
}

// ---- the streamed conversion of a regular file --------------------------------------------------------

// The status of a copy's path, asked once for every rule that looks at it: a conversion of many small
// files spends its time in such queries, not in converting.
struct CopyStatus {
  int error = ENOENT;  // 0 when something is there
  sys::StatRecord record;

  explicit CopyStatus(std::u16string_view path) { error = sys::Stat(path, record); }
  bool Exists() const { return error == 0; }
  bool IsFolder() const { return error == 0 && (record.mode & 0xF000) == 0x4000; }
  std::int64_t ModifyTime() const { return error == 0 ? record.modify_time : 0; }
};

// CopiesOntoItself for a source that is open (`source` the status of the file it reads) and a copy
// whose status is known; neither waits in a batch any more.
bool CopiesOntoItself(std::u16string_view source_path, std::u16string_view folder, const sys::StatRecord& source,
                      const CopyStatus& copy) {
  if (copy.Exists()) {
    const sys::FileId copy_id{copy.record.device, copy.record.inode};
    if (copy_id == sys::FileId{source.device, source.inode}) return true;
    // The source's name may lead to another file by now (saved anew beside the one read): the copy is
    // also the source when it is that one.
    sys::FileId named;
    return sys::GetFileId(source_path, named) == 0 && named == copy_id;
  }
  // No copy yet: it would be made in the source's own folder only when the two folders are one.
  const std::u16string absolute = AbsolutePath(source_path, CurrentFolder());
  sys::FileId a, b;
  if (sys::GetFileId(FolderPart(absolute), a) != 0) return false;
  if (sys::GetFileId(folder.empty() ? u"." : folder, b) != 0) return false;
  return a == b;
}

// Whether the copy already holds the source's text in the target encoding, read in pieces: the copy's
// detection and its text come from one pass over both files, which ends at the first difference.
bool CopyHoldsText(std::u16string_view dest, EncodingKind target, ByteSource& source, const SourceFacts& facts) {
  const Detection detection = facts.detection;
  if (!FileStatus(dest).IsFile()) return false;
  std::FILE* stream = OpenSourceFile(dest);
  if (!stream) return false;
  ByteSource copy(stream, true);
  Detection copy_detection;
  const TextMatch::Verdict verdict = MatchText(copy, target, source, detection, facts.size, copy_detection);
  if (verdict == TextMatch::Verdict::kDiffers || copy_detection.kind != target) return false;
  // A copy whose text ran far ahead of the source's is compared again the long way.
  return verdict == TextMatch::Verdict::kSame || SameText(copy, copy_detection, source, detection);
}

// WriteUnchanged for a source read in pieces: its bytes are read again and compared with the copy.
bool WriteUnchangedStream(std::u16string_view dest, ByteSource& source, std::int64_t modify_time) {
  const CheckedWrite written = WriteCheckedStream(
      dest,
      [&](const ContentSink& sink) {
        source.Start(kind::Copy, 0);
        std::span<const std::uint8_t> piece;
        while (source.Next(piece)) {
          if (!sink(piece)) return false;
        }
        return !source.Failed();
      },
      [&](std::FILE* back) {
        ByteSource copy(back, false);
        return SameBytes(copy, source);
      },
      modify_time);
  if (written == CheckedWrite::kRefused) DumpText(u"Can't write, the copy read back differs  " + std::u16string(dest));
  return written == CheckedWrite::kWritten;
}

// Convert for a regular file read in pieces, with the same steps and results: no piece of the file, its
// text or its copy is held whole, so any size converts in the same memory.
// `source_time` is the source's modification time, `copy` the status of its copy's path.
FileResult ConvertStreamed(EncodingKind target, std::u16string_view source_path, std::u16string_view folder,
                           ByteSource& source, const SourceFacts& facts, std::int64_t source_time,
                           const CopyStatus& copy) {
  const std::u16string dest = CopyPath(folder, source_path);
  const bool whole = DecodesWhole(source, facts);
  if (source.Failed()) return FileResult::kUnreadable;

  if (copy.ModifyTime() == source_time && whole && copy.Exists() && CopyHoldsText(dest, target, source, facts)) {
    return FileResult::kUpToDate;
  }
  if (target == kind::Copy) {
    return CopyFileTo(source_path, dest, false) ? FileResult::kCopied : FileResult::kUnableToSave;
  }
  if (copy.Exists() && !copy.IsFolder() && BackupToRescue(dest).empty()) {
    DumpText(u"Can't back up the existing copy  " + dest);
    return FileResult::kBackupFailed;
  }
  FileResult outcome = FileResult::kConverted;
  CheckedWrite written = CheckedWrite::kRefused;
  if (whole) {
    // Each piece of the copy is read back and compared right after its write; the whole copy is read
    // again only when that leaves the verdict open (its detection decodes otherwise than the target).
    written = WriteSelfCheckedStream(
        dest,
        [&](const ContentSink& sink, const ReadBack& back) {
          return ProduceCheckedText(target, source, facts.detection, facts.size, sink, back);
        },
        [&](std::FILE* back) {
          ByteSource copy(back, false);
          SourceFacts copy_facts;
          return ScanSource(copy, copy_facts, true) && SameText(copy, copy_facts.detection, source, facts.detection);
        },
        source_time);
  }
  if (written == CheckedWrite::kFailed) return FileResult::kUnableToSave;
  if (written == CheckedWrite::kRefused) {
    if (!WriteUnchangedStream(dest, source, source_time)) return FileResult::kUnableToSave;
    outcome = FileResult::kPlainCopy;
  }
  // The copy took the source's time before it replaced the old one (a batch may rename it later).
  return outcome;
}

// One file by its path, judged first when `test_text` is set. A regular file with content is read in
// pieces; anything else (a pipe, a /proc file, an empty or unreadable file) is read whole, as before.
FileResult ConvertPath(EncodingKind target, std::u16string_view path, std::u16string_view folder, bool test_text) {
  // A copy of this run that still waits for its batch is settled before it is read or replaced again.
  const std::u16string dest = CopyPath(folder, path);
  (void)sys::SettlePending(path);
  (void)sys::SettlePending(dest);
  const FileStatus status(path);
  std::FILE* stream = nullptr;
  FileContent content;
  if (!status.Failed() && status.IsFile() && status.Size() > 0) {
    content.exists = true;
    stream = OpenSourceFile(path);
    if (!stream) {
      if (test_text && !IsTextFile(path, content)) return FileResult::kNotText;
      return ConvertContent(target, path, folder, std::move(content));
    }
  } else {
    content = ReadFileContent(path);
    if (test_text && !IsTextFile(path, content)) return FileResult::kNotText;
    return ConvertContent(target, path, folder, std::move(content));
  }
  try {
    // The file the stream reads, whatever its path names by now: its time and id serve every rule below.
    sys::StatRecord opened;
    const int opened_error = sys::StatStream(stream, opened);
    ByteSource source(stream, true);
    SourceFacts facts;
    if (opened_error != 0 || !ScanSource(source, facts)) {
      DumpText(u"Can't read  " + std::u16string(path));
      if (test_text && !IsTextFile(path, content)) return FileResult::kNotText;
      return ConvertContent(target, path, folder, std::move(content));
    }
    if (test_text && !IsTextFile(source, facts)) return FileResult::kNotText;
    const CopyStatus copy(dest);
    if (CopiesOntoItself(path, folder, opened, copy)) return FileResult::kSamePath;
    return ConvertStreamed(target, path, folder, source, facts, opened.modify_time, copy);
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't convert, out of memory  " + std::u16string(path));
    return FileResult::kUnableToSave;
  }
}

}  // namespace

ConversionBatch::ConversionBatch() { (void)sys::BeginBatch(); }

ConversionBatch::~ConversionBatch() { (void)Finish(); }

bool ConversionBatch::Finish() {
  if (finished_) return true;
  finished_ = true;
  const int error = sys::EndBatch();
  if (error != 0) DumpText(u"Can't write   (a batch of copies)");
  return error == 0;
}

bool Succeeded(FileResult result) {
  return result == FileResult::kConverted || result == FileResult::kUpToDate || result == FileResult::kCopied ||
         result == FileResult::kPlainCopy;
}

FileResult ConvertFileWithOutcome(EncodingKind target, std::u16string_view source, std::u16string_view folder) {
  return ConvertPath(target, source, folder, false);
}

bool ConvertFile(EncodingKind target, std::u16string_view source, std::u16string_view folder) {
  return Succeeded(ConvertFileWithOutcome(target, source, folder));
}

std::u16string CopyPath(std::u16string_view folder, std::u16string_view path) {
  return AddSlash(folder, kPathSeparator) + FileName(path);
}

bool CopiesOntoItself(std::u16string_view source, std::u16string_view folder) {
  const std::u16string dest = CopyPath(folder, source);
  bool same = false;
  if (sys::SameFile(source, dest, same) == 0) return same;
  // One of the two is missing. A missing copy is the source itself only when it would be made in the
  // source's own folder, under the source's own name (which the copy always has).
  if (FileExists(dest)) return false;
  const std::u16string absolute = AbsolutePath(source, CurrentFolder());
  if (sys::SameFile(FolderPart(absolute), folder.empty() ? u"." : folder, same) != 0) return false;
  return same;
}

FileResult ConvertOne(EncodingKind target, std::u16string_view path, std::u16string_view folder) {
  return ConvertPath(target, path, folder, true);
}

FileResult ConvertToBytes(EncodingKind target, std::u16string_view path, const FileContent& content,
                          std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (!IsTextFile(path, content)) return FileResult::kNotText;
  if (!content.readable) return FileResult::kUnreadable;
  try {
    if (target == kind::Copy) {
      bytes = content.bytes;
      return FileResult::kCopied;
    }
    // Checked as a copy is: the encoded bytes must decode back to the text, else the bytes stay as they came.
    if (content.whole) {
      (void)ContentAs(target, content.text)([&](std::span<const std::uint8_t> piece) {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return true;
      });
      if (DecodesTo(bytes, content.text)) return FileResult::kConverted;
    }
    bytes = content.bytes;
    return FileResult::kPlainCopy;
  } catch (const std::bad_alloc&) {
    std::vector<std::uint8_t>().swap(bytes);
    DumpText(u"Can't convert, out of memory  " + std::u16string(path));
    return FileResult::kUnableToSave;
  }
}

std::u16string BackupName(std::u16string_view stamp, std::u16string_view name) {
  // One name may take 255 bytes in the system's form (NAME_MAX on Linux, 255 UTF-16 units on Windows).
  // The plain backup keeps the name itself: it is the name of the copy that exists, so it fits already.
  constexpr std::size_t kNameMax = 255;
  const auto fits = [](std::u16string_view a, std::u16string_view b, std::u16string_view c, std::u16string_view d) {
    return sys::ToNativePath(std::u16string(a) + std::u16string(b) + std::u16string(c) + std::u16string(d)).size() <=
           kNameMax;
  };
  if (fits(stamp, name, {}, {})) return std::u16string(stamp) + std::u16string(name);
  // Takes the last character off a text, both halves of a surrogate pair at once.
  const auto drop_last = [](std::u16string& text) {
    const bool pair = text.size() >= 2 && IsLowSurrogate(text.back()) && IsHighSurrogate(text[text.size() - 2]);
    text.resize(text.size() - (pair ? 2 : 1));
  };
  // The hash of the whole name keeps two long names that share their start and extension apart.
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (const char16_t unit : name) {
    hash = (hash ^ (unit & 0xFF)) * 16777619u;
    hash = (hash ^ (unit >> 8)) * 16777619u;
  }
  std::u16string mark = u"~";
  for (int shift = 28; shift >= 0; shift -= 4) mark += u"0123456789abcdef"[(hash >> shift) & 0xF];
  const std::size_t dot = name.rfind(u'.');
  const bool has_extension = dot != std::u16string_view::npos && dot > 0;
  std::u16string title(has_extension ? name.substr(0, dot) : name);
  std::u16string extension(has_extension ? name.substr(dot) : std::u16string_view());
  while (!extension.empty() && !fits(stamp, mark, extension, {})) drop_last(extension);
  while (!title.empty() && !fits(stamp, title, mark, extension)) drop_last(title);
  return std::u16string(stamp) + title + mark + extension;
}

std::u16string BackupToRescue(std::u16string_view path) {
  if (!FileExists(path)) return {};
  const std::u16string folder = RescueFolder(path, true);
  if (folder.empty()) return {};
  const std::u16string plain = AddSlash(folder, kPathSeparator) + FileName(path);
  const std::u16string stamped = AddSlash(folder, kPathSeparator) +
                                 BackupName(FormatTime(ModifiedTime(path), u"%Y%m%d_%H%M%S."), FileName(path));
  // A backup counts once it holds as many bytes as the file (a full disk may leave a short one). In a
  // batch both wait there, and the batch puts them in place, durable, before it replaces the file.
  const std::int64_t size = FileStatus(path).Size();
  for (const std::u16string& backup : {stamped, plain}) {
    std::int64_t copied = -1;
    if (sys::BackUpFile(path, backup, copied) != 0 || copied < 0 || copied != size) return {};
  }
  return stamped;
}

std::u16string RescueFolder(std::u16string_view path, bool create) {
  const std::u16string separator(1, kPathSeparator);
  // The absolute folder: "out" from two working folders gives two Rescue folders, "." is no special case.
  const std::u16string absolute = AbsolutePath(path, CurrentFolder());
  const std::u16string folder = FileStatus(absolute).IsFolder() ? absolute : FolderPart(absolute);
  // Every colon, slash and percent sign separates pieces, and so does the system's separator. Normalising
  // left no "." or ".." between separators, but a name such as "a:.." holds one: such a folder has no
  // Rescue folder rather than one outside the Rescue root.
  std::vector<std::u16string> pieces;
  std::u16string piece;
  for (std::size_t i = 0; i <= folder.size(); ++i) {
    const char16_t c = i < folder.size() ? folder[i] : u'/';
    if (c != u'/' && c != u':' && c != u'%' && c != kPathSeparator) {
      piece += c;
      continue;
    }
    if (piece == u"." || piece == u"..") return {};
    if (!piece.empty()) pieces.push_back(std::move(piece));
    piece.clear();
  }
  const std::u16string root = NormalizePath(AddSlash(TempFolder(), kPathSeparator) + u"Rescue");
  std::u16string result = pieces.empty() ? root : root + separator + JoinText(pieces, separator);
  if (result.compare(0, root.size(), root) != 0) return {};
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
