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
#include "util/text_search.h"

namespace ocelo {
namespace {

// The local-file-header, end-of-archive and spanned-archive signatures of a ZIP container.
bool IsZipHead(const std::vector<std::uint8_t>& head) {
  if (head.size() < 4 || head[0] != 'P' || head[1] != 'K') return false;
  return (head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6) || (head[2] == 7 && head[3] == 8);
}

// Everything after the ZIP test. The raw bytes of the one read serve the zero-byte test at the end.
bool IsTextContent(std::u16string_view path, const FileContent& content) {
  const std::u16string& text = content.text;
  if (HasXmlDeclaration(text)) return true;
  const std::u16string_view entries[] = {text};
  if (FindDeclaredEncoding(std::span<const std::u16string_view>(entries)) != 0) return true;
  if (FindText(text, std::u16string_view(u"\0", 1)) != std::u16string_view::npos) return false;

  // The size of what was read, not what the status says: a pipe or a /proc file reports 0.
  const FileStatus status(path);
  const std::int64_t size = content.readable  ? static_cast<std::int64_t>(content.bytes.size())
                            : status.Failed() ? 0
                                              : status.Size();
  if (size / 4 <= 2 * static_cast<std::int64_t>(text.size())) return true;
  // Decoding stopped early, which a zero byte does: binary when the file holds one.
  return std::find(content.bytes.begin(), content.bytes.end(), std::uint8_t{0}) == content.bytes.end();
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
  const std::size_t wanted = static_cast<std::size_t>(
      std::clamp<std::int64_t>(size, 0, static_cast<std::int64_t>(count)));
  if (wanted) (void)std::fread(head.data(), 1, wanted, stream);
  std::fclose(stream);
  return head;
}

bool IsTextFile(std::u16string_view path) {
  if (IsZipHead(ReadHead(path, 10))) return false;
  return IsTextContent(path, ReadFileContent(path));
}

bool IsTextFile(std::u16string_view path, const FileContent& content) {
  // The head of the one read, when there was one: a pipe cannot be read a second time.
  std::vector<std::uint8_t> head;
  if (content.readable) {
    head.assign(content.bytes.begin(), content.bytes.begin() + std::min<std::size_t>(content.bytes.size(), 10));
    head.resize(22, 0);
  } else {
    head = ReadHead(path, 10);
  }
  if (IsZipHead(head)) return false;
  return IsTextContent(path, content);
}

}  // namespace ocelo
