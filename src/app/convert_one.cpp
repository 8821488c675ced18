// One dropped file from judgement to copy.
#include "app/convert_one.h"

#include <utility>

#include "encoding/convert.h"
#include "encoding/text_file.h"
#include "encoding/decode.h"
#include "util/paths.h"
#include "util/strings.h"

namespace ocelo {

bool Succeeded(FileResult result) {
  return result == FileResult::kConverted || result == FileResult::kUpToDate ||
         result == FileResult::kCopied || result == FileResult::kPlainCopy;
}

std::u16string CopyPath(std::u16string_view folder, std::u16string_view path) {
  return AddSlash(folder, kPathSeparator) + FileName(path);
}

bool IsSamePath(std::u16string_view a, std::u16string_view b) {
  return a == b || ToLower(a) == ToLower(b);
}

FileResult ConvertOne(EncodingKind target, std::u16string_view path, std::u16string_view folder) {
  FileContent content = ReadFileContent(path);
  if (!IsTextFile(path, content)) return FileResult::kNotText;
  if (IsSamePath(path, CopyPath(folder, path))) return FileResult::kSamePath;
  switch (ConvertFileWithOutcome(target, path, folder, std::move(content))) {
    case ConvertOutcome::kConverted:
      return FileResult::kConverted;
    case ConvertOutcome::kUpToDate:
      return FileResult::kUpToDate;
    case ConvertOutcome::kCopied:
      return FileResult::kCopied;
    case ConvertOutcome::kPlainCopy:
      return FileResult::kPlainCopy;
    case ConvertOutcome::kUnreadable:
      return FileResult::kUnreadable;
    case ConvertOutcome::kUnableToSave:
      break;
  }
  return FileResult::kUnableToSave;
}

}  // namespace ocelo
