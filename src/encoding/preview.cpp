// What converting one file would do, judged with the converter's own tests and writing nothing, and the
// characters a target cannot hold, found with the target's own encoder.
#include "encoding/preview.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "base/paths.h"
#include "base/utf.h"
#include "encoding/cp932.h"
#include "encoding/detect.h"
#include "encoding/text_file.h"
#include "encoding/utf8.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"

namespace ocelo {
namespace {

// A path's modification time; 0 when its status cannot be read.
std::int64_t ModifiedTime(std::u16string_view path) {
  const FileStatus status(path);
  return status.Failed() ? 0 : status.ModifyTime();
}

// Steps through a text character by character, keeping the line and column of the next one.
class TextWalker {
 public:
  explicit TextWalker(std::u16string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool Done() const { return p_ == end_; }
  const TextPosition& Position() const { return position_; }

  // The next character with its units, and the position moved past it (past both units of CR LF, one line
  // end).
  DecodedChar Next(std::u16string_view& units) {
    const DecodedChar c = DecodeUtf16Char(p_, end_);
    units = std::u16string_view(p_, c.length);
    p_ += c.length;
    if (c.code_point == u'\r' && p_ != end_ && *p_ == u'\n') ++p_;
    if (c.code_point == u'\r' || c.code_point == u'\n') {
      ++position_.line;
      position_.column = 1;
    } else {
      ++position_.column;
    }
    return c;
  }

 private:
  const char16_t* p_;
  const char16_t* const end_;
  TextPosition position_;
};

// Whether each code unit survives code page 932, learnt unit by unit from the encoder and decoder. The
// encoder maps each unit on its own, and no unit becomes a lone lead byte, so a text reads back exactly
// when each of its units does.
class Cp932Units {
 public:
  bool Lost(char16_t unit) {
    std::uint8_t& known = known_[unit];
    if (known == kUnknown) {
      const std::u16string_view one(&unit, 1);
      known = DecodeShiftJis(EncodeShiftJis(one)) == one ? kKept : kLost;
    }
    return known == kLost;
  }

 private:
  enum : std::uint8_t { kUnknown, kKept, kLost };
  std::array<std::uint8_t, 0x10000> known_{};
};

// Whether a character taken from `units` survives UTF-8: every scalar value does by construction; a lone
// surrogate is asked of the encoder, which writes it as U+FFFD.
bool LostInUtf8(std::u16string_view units) {
  if (units.size() == 2 || !IsSurrogate(units[0])) return false;
  return DecodeUtf8(EncodeUtf8(units)) != units;
}

}  // namespace

LostCharacters FindLostCharacters(EncodingKind target, std::u16string_view text, std::size_t limit) {
  LostCharacters lost;
  if (target != kind::ShiftJis && target != kind::Utf8) return lost;  // UTF-16 and a copy hold every unit
  try {
    const auto cp932 = target == kind::ShiftJis ? std::make_unique<Cp932Units>() : nullptr;
    TextWalker walker(text);
    std::u16string_view units;
    while (!walker.Done()) {
      const TextPosition position = walker.Position();
      const DecodedChar c = walker.Next(units);
      bool gone = false;
      if (cp932) {
        for (const char16_t unit : units) gone = cp932->Lost(unit) || gone;
      } else {
        gone = LostInUtf8(units);
      }
      if (!gone) continue;
      if (lost.first.size() < limit) lost.first.push_back({position, c.code_point});
      ++lost.count;
    }
  } catch (const std::bad_alloc&) {
    DumpText(u"Can't list the lost characters, out of memory");
  }
  return lost;
}

TextPosition EndOfText(std::u16string_view text) {
  TextWalker walker(text);
  std::u16string_view units;
  while (!walker.Done()) walker.Next(units);
  return walker.Position();
}

PlainCopyCause CauseOfPlainCopy(EncodingKind target, const FileContent& content) {
  if (!content.whole) return PlainCopyCause::kZeroByte;
  if (FindLostCharacters(target, content.text, 0).count > 0) return PlainCopyCause::kLostCharacters;
  return PlainCopyCause::kReadsBackOtherwise;
}

Preview PreviewToBytes(EncodingKind target, std::u16string_view path, const FileContent& content) {
  Preview preview;
  std::vector<std::uint8_t> bytes;
  // The stream's own judgement, text test and read-back check included; its bytes go nowhere.
  preview.result = ConvertToBytes(target, path, content, bytes);
  if (preview.result == FileResult::kPlainCopy) preview.cause = CauseOfPlainCopy(target, content);
  return preview;
}

Preview PreviewOne(EncodingKind target, std::u16string_view path, std::u16string_view folder,
                   const FileContent& content) {
  // The converter's steps in its order: the text test, the same-path refusal, the up-to-date test, the copy,
  // the unreadable source, the backup of an existing copy, and the converted text read back.
  Preview preview;
  // A missing file passes the text test; asked, the test would log its failed look at the file's head.
  if (content.exists && !IsTextFile(path, content)) {
    preview.result = FileResult::kNotText;
    return preview;
  }
  if (CopiesOntoItself(path, folder)) {
    preview.result = FileResult::kSamePath;
    return preview;
  }
  const std::u16string dest = CopyPath(folder, path);
  const FileStatus existing(dest);
  preview.copy = dest;
  if (!existing.Failed() && !existing.IsFolder() && existing.ModifyTime() == ModifiedTime(path) && content.readable &&
      content.whole) {
    std::vector<std::uint8_t> bytes;
    if (ReadFileBytesInto(dest, bytes) && DetectEncoding(bytes).kind == target && DecodesTo(bytes, content.text)) {
      preview.result = FileResult::kUpToDate;
      return preview;
    }
  }
  // Nothing replaces a folder where the copy would go.
  const bool blocked = !existing.Failed() && existing.IsFolder();
  if (target == kind::Copy) {
    // A file is copied from its path (which fails when it cannot be read), a pipe from the bytes already read.
    const bool from_path = FileStatus(path).IsFile();
    if (!from_path && !content.readable) {
      preview.result = FileResult::kUnreadable;
    } else if (blocked || (from_path && sys::Access(path, 4) != 0)) {
      preview.result = FileResult::kUnableToSave;
    } else {
      preview.result = FileResult::kCopied;
    }
  } else if (!content.readable) {
    preview.result = FileResult::kUnreadable;
  } else if (blocked) {
    preview.result = FileResult::kUnableToSave;
  } else {
    if (!existing.Failed()) {
      // The backup BackupToRescue would make, named from the existing copy's time.
      const std::u16string rescue = RescueFolder(dest, false);
      if (rescue.empty()) {
        preview.result = FileResult::kBackupFailed;
        preview.copy.clear();
        return preview;
      }
      preview.backup = AddSlash(rescue, kPathSeparator) +
                       BackupName(FormatTime(existing.ModifyTime(), u"%Y%m%d_%H%M%S."), FileName(dest));
    }
    const Preview stream = PreviewToBytes(target, path, content);
    preview.result = stream.result;
    preview.cause = stream.cause;
  }
  if (!Succeeded(preview.result)) {
    preview.copy.clear();
    preview.backup.clear();
  }
  return preview;
}

}  // namespace ocelo
