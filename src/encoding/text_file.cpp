// The text-file test: ReadHead and IsTextFile.
#include "encoding/text_file.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "encoding/decode.h"
#include "encoding/detect.h"
#include "util/dump.h"
#include "util/file_list.h"
#include "util/file_status.h"
#include "util/policy.h"

namespace ocelo {
namespace {

// The local-file-header, end-of-archive and spanned-archive signatures of a ZIP container.
bool IsZipHead(const std::vector<std::uint8_t>& head) {
  if (head.size() < 4 || head[0] != 'P' || head[1] != 'K') return false;
  return (head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6) || (head[2] == 7 && head[3] == 8);
}

}  // namespace

std::vector<std::uint8_t> ReadHead(std::u16string_view path, int n) {
  std::FILE* stream = path.empty() ? nullptr : OpenFile(path, "rb");
  if (!stream) {
    if (!path.empty()) Pause(Waits().open_wait);
    DumpText(u"::ReadHead   Can't open   " + std::u16string(path));
    return {};
  }
  const std::size_t count = static_cast<std::size_t>(std::max(n, 0));
  std::vector<std::uint8_t> head(2 * count + 2, 0);
  const std::int64_t size = FileStatus(path).Size();
  const std::size_t wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, static_cast<std::int64_t>(count)));
  if (wanted) (void)std::fread(head.data(), 1, wanted, stream);
  std::fclose(stream);
  return head;
}

bool IsTextFile(std::u16string_view path) {
  if (IsZipHead(ReadHead(path, 10))) return false;

  // The raw bytes are read once and kept for the zero-byte test at the end.
  std::vector<std::uint8_t> bytes;
  std::u16string text;
  if (FileExists(path)) {
    bytes = ReadFileBytes(path);
    text = DecodeBytes(bytes);
  }
  if (HasXmlDeclaration(text)) return true;
  if (FindDeclaredEncoding({text}) != 0) return true;
  if (text.find(u'\0') != std::u16string::npos) return false;

  const FileStatus status(path);
  const std::int64_t size = status.Failed() ? 0 : status.Size();
  if (size / 4 <= 2 * static_cast<std::int64_t>(text.size())) return true;
  // Decoding stopped early, which a zero byte does: binary when the file holds one.
  return std::find(bytes.begin(), bytes.end(), std::uint8_t{0}) == bytes.end();
}

}  // namespace ocelo
