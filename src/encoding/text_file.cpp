// The text-file test: ReadHead and IsTextFile.
#include "encoding/text_file.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/stream.h"
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

bool IsTextFile(ByteSource& source, const SourceFacts& facts) {
  std::vector<std::uint8_t> head(facts.head, facts.head + facts.head_length);
  head.resize(22, 0);
  if (IsZipHead(head)) return false;
  // The text never holds U+0000, and a file without a zero byte is text whatever its text says.
  if (!facts.zero_byte) return true;
  const auto size = static_cast<std::int64_t>(facts.size);
  TextDeclarationScan scan;
  TextSource text(source, facts.detection);
  std::int64_t units = 0;
  std::u16string_view piece;
  while (text.Next(piece)) {
    scan.Add(piece);
    units += static_cast<std::int64_t>(piece.size());
    if (scan.Found() || size / 4 <= 2 * units) return true;
  }
  return scan.FoundAtEnd() || size / 4 <= 2 * units;
}

void TextDeclarationScan::Add(std::u16string_view piece) {
  if (first_.size() < 20) first_ += piece.substr(0, 20 - first_.size());
  if (!complete_ && Found()) return;
  joined_.assign(tail_);
  joined_ += piece;
  const std::u16string_view text = joined_;
  constexpr std::size_t npos = std::u16string_view::npos;
  xml_declaration_ = xml_declaration_ || FindText(text, u"<?xml") != npos;
  vrml_ = vrml_ || FindText(text, u"VRML") != npos || FindText(text, u"X3D") != npos;
  utf8_ = utf8_ || FindText(text, u"utf8") != npos;
  Scan(xml_, text, tail_.size());
  Scan(html_, text, tail_.size());
  // Enough for a match of the longest word ("encoding") that starts before the next piece.
  constexpr std::size_t kTail = 8;
  tail_.assign(text.substr(text.size() - std::min(text.size(), kTail)));
}

void TextDeclarationScan::Scan(Declaration& d, std::u16string_view text, std::size_t tail) const {
  constexpr std::size_t npos = std::u16string_view::npos;
  std::size_t from = tail - std::min(d.resume, tail);
  for (;;) {
    if (d.stage == 0 || d.stage == 1) {
      const std::u16string_view word = d.stage == 0 ? d.tag : d.key;
      const std::size_t at = FindText(text, word, from);
      if (at == npos) {
        d.resume = std::min(text.size() - std::min(from, text.size()), word.size() - 1);
        return;
      }
      from = at + word.size();
      ++d.stage;
    } else if (d.stage == 2) {
      const std::size_t at = FindText(text, u"=", from);
      d.resume = 0;
      if (at == npos) return;
      from = at + 1;
      d.stage = 3;
    } else if (d.stage == 3) {
      const std::size_t take = std::min<std::size_t>(20 - d.window.size(), text.size() - std::min(from, text.size()));
      d.window += text.substr(from, take);
      d.resume = 0;
      if (d.window.size() == 20) d.stage = 4;
      return;
    } else {
      return;
    }
  }
}

EncodingKind TextDeclarationScan::KindOf(const Declaration& d) const {
  if (d.stage >= 3) return DeclaredValueKind(d.window);
  if (d.stage == 2) return DeclaredValueKind(first_);  // no "=" after the key: the text's start
  return kind::Copy;
}

bool TextDeclarationScan::Found() const {
  return xml_declaration_ || (vrml_ && utf8_) || (xml_.stage == 4 && KindOf(xml_) != 0) ||
         (html_.stage == 4 && KindOf(html_) != 0);
}

bool TextDeclarationScan::FoundAtEnd() const {
  return xml_declaration_ || (vrml_ && utf8_) || KindOf(xml_) != 0 || KindOf(html_) != 0;
}

TextDeclarationScan::Finds TextDeclarationScan::Declared() const {
  Finds finds;
  if (xml_.stage >= 2) finds.xml = KindOf(xml_);
  if (html_.stage >= 2) finds.html = KindOf(html_);
  if (vrml_) finds.vrml = utf8_ ? kind::Utf8 : kind::Copy;
  return finds;
}

void LineDeclarationScan::Add(std::u16string_view piece) {
  while (!Done() && !piece.empty()) {
    const std::size_t end = piece.find(u'\n');
    line_.Add(piece.substr(0, end));
    if (end == std::u16string_view::npos) return;
    EndLine();
    piece.remove_prefix(end + 1);
  }
}

void LineDeclarationScan::EndLine() {
  const TextDeclarationScan::Finds finds = line_.Declared();
  // Only the first line that holds a kind of declaration counts for that kind.
  if (firsts_.xml < 0) firsts_.xml = finds.xml;
  if (firsts_.html < 0) firsts_.html = finds.html;
  if (firsts_.vrml < 0) firsts_.vrml = finds.vrml;
  line_ = TextDeclarationScan(true);
  ++lines_;
}

EncodingKind LineDeclarationScan::Result() const {
  // The text's last line, when it has no line feed after it, ends with the text.
  TextDeclarationScan::Finds finds = firsts_;
  if (!Done()) {
    const TextDeclarationScan::Finds last = line_.Declared();
    if (finds.xml < 0) finds.xml = last.xml;
    if (finds.html < 0) finds.html = last.html;
    if (finds.vrml < 0) finds.vrml = last.vrml;
  }
  if (finds.xml > 0) return finds.xml;
  if (finds.html > 0) return finds.html;
  return std::max(finds.vrml, 0);
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
