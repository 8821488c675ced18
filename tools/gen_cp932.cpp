// Builds the code page 932 tables (src/encoding/cp932_tables.inc) from the system's iconv "CP932".
//
//   cmake --preset default && cmake --build --preset default --target gen_cp932
//   build/default/gen_cp932 src/encoding/cp932_tables.inc
//
// iconv is the reference for every character it converts both ways. On top of it the tables hold what
// Windows adds: the single bytes 0x80, 0xA0, 0xFD, 0xFE, 0xFF (U+0080, U+F8F0..U+F8F3), and U+30FB for a
// lead byte whose pair forms no character. Characters that iconv encodes but that no byte sequence decodes
// to (U+301C to 81 60, ...) stay unmappable, as on Windows; they are listed in a comment of the output.
// The program stops with a message when iconv breaks an assumption the converters rely on.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr std::uint16_t kNoCharacter = 0x30FB;  // KATAKANA MIDDLE DOT, Windows' default character
constexpr std::uint16_t kUnmappable = 0x5F;     // "_"
constexpr int kRows = 61;                       // row 0: single bytes; rows 1..60: lead bytes

[[noreturn]] void Fail(const char* what, unsigned value) {
  std::fprintf(stderr, "gen_cp932: %s (0x%X)\n", what, value);
  std::exit(1);
}

bool IsLead(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrail(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
int LeadRow(unsigned b) { return b <= 0x9F ? static_cast<int>(b) - 0x81 + 1 : static_cast<int>(b) - 0xE0 + 32; }

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) Fail("iconv_open failed", 0);
  }
  ~Iconv() { iconv_close(cd_); }
  // The whole input converted, or an empty result when iconv rejects or leaves any of it.
  std::vector<std::uint8_t> operator()(const void* data, std::size_t size) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(static_cast<const char*>(data));
    std::size_t in_left = size;
    std::uint8_t buffer[16];
    char* out = reinterpret_cast<char*>(buffer);
    std::size_t out_left = sizeof buffer;
    if (iconv(cd_, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1) || in_left != 0) return {};
    return std::vector<std::uint8_t>(buffer, buffer + (sizeof buffer - out_left));
  }

 private:
  iconv_t cd_;
};

// One UTF-16LE unit from iconv's output, or -1 when it is not exactly one unit.
long OneUnit(const std::vector<std::uint8_t>& utf16) {
  if (utf16.size() != 2) return -1;
  return utf16[0] | (utf16[1] << 8);
}

void WriteTable(std::FILE* out, const char* type, const char* name, const std::vector<std::uint16_t>& values,
                const char* width) {
  std::fprintf(out, "inline constexpr %s %s[%zu] = {\n", type, name, values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::fprintf(out, i % 16 == 0 ? "    " : " ");
    std::fprintf(out, width, values[i]);
    std::fprintf(out, ",");
    if (i % 16 == 15 || i + 1 == values.size()) std::fprintf(out, "\n");
  }
  std::fprintf(out, "};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
  Iconv decode("UTF-16LE", "CP932");
  Iconv encode("CP932", "UTF-16LE");

  // Decoding. Row 0 maps each byte standing alone; a lead byte alone (no trail follows) is U+30FB.
  std::vector<std::uint16_t> decode_table(kRows * 256, kNoCharacter);
  std::map<std::uint16_t, unsigned> first_code;  // character => the first byte sequence decoding to it
  for (unsigned b = 0; b < 256; ++b) {
    std::uint8_t byte = static_cast<std::uint8_t>(b);
    long unit = OneUnit(decode(&byte, 1));
    if (unit < 0) {
      switch (b) {
        case 0x80: unit = 0x0080; break;
        case 0xA0: unit = 0xF8F0; break;
        case 0xFD: unit = 0xF8F1; break;
        case 0xFE: unit = 0xF8F2; break;
        case 0xFF: unit = 0xF8F3; break;
        default:
          if (!IsLead(b)) Fail("iconv rejects a single byte that is no lead byte", b);
          unit = kNoCharacter;
      }
    } else if (IsLead(b)) {
      Fail("iconv decodes a lead byte on its own", b);
    } else if (b < 0x80 && unit != static_cast<long>(b)) {
      Fail("iconv does not decode a 7-bit byte to itself", b);
    }
    decode_table[b] = static_cast<std::uint16_t>(unit);
    if (!IsLead(b)) first_code.emplace(static_cast<std::uint16_t>(unit), b);
  }
  int pairs = 0;
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    for (unsigned trail = 0; trail < 0x100; ++trail) {
      const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)};
      long unit = OneUnit(decode(bytes, 2));
      if (unit < 0) continue;
      if (!IsLead(lead) || !IsTrail(trail))
        Fail("iconv decodes a pair outside the lead and trail ranges", lead << 8 | trail);
      if (unit == 0 || (unit >= 0xD800 && unit < 0xE000))
        Fail("iconv decodes a pair to U+0000 or a surrogate", lead << 8 | trail);
      decode_table[LeadRow(lead) * 256 + trail] = static_cast<std::uint16_t>(unit);
      first_code.emplace(static_cast<std::uint16_t>(unit), lead << 8 | trail);
      ++pairs;
    }
  }

  // Encoding: what iconv gives for every character that some sequence decodes to; everything else is "_".
  std::vector<std::uint16_t> encode_code(0x10000, kUnmappable);
  std::vector<std::pair<unsigned, std::vector<std::uint8_t>>> one_way;  // character => iconv's bytes
  for (unsigned u = 0; u < 0x10000; ++u) {
    const std::uint8_t unit[2] = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)};
    std::vector<std::uint8_t> bytes = (u >= 0xD800 && u < 0xE000) ? std::vector<std::uint8_t>{} : encode(unit, 2);
    auto found = first_code.find(static_cast<std::uint16_t>(u));
    if (found == first_code.end()) {
      if (!bytes.empty()) one_way.emplace_back(u, bytes);
      continue;
    }
    unsigned code = 0;
    if (bytes.empty()) {
      // Only the five bytes that iconv does not know map back to themselves without it.
      if (found->second > 0xFF) Fail("iconv cannot encode a character it decodes", u);
      code = found->second;
    } else if (bytes.size() == 1) {
      code = bytes[0];
    } else if (bytes.size() == 2) {
      code = bytes[0] << 8 | bytes[1];
    } else {
      Fail("iconv encodes a character to more than two bytes", u);
    }
    // The bytes must decode back to the character (they may be another of its duplicate codes).
    std::uint16_t back = code <= 0xFF ? decode_table[code] : decode_table[LeadRow(code >> 8) * 256 + (code & 0xFF)];
    if (back != u) Fail("iconv encodes a character to bytes that decode to another one", u);
    encode_code[u] = static_cast<std::uint16_t>(code);
  }
  // The 0x30FB default above must not hide a real pair; U+30FB itself is 81 45.
  if (encode_code[kNoCharacter] != 0x8145) Fail("U+30FB does not encode to 81 45", encode_code[kNoCharacter]);

  // Encoding pages of 256 characters; identical pages are stored once.
  std::vector<std::uint16_t> page_of(256);
  std::vector<std::uint16_t> pages;
  for (unsigned page = 0; page < 256; ++page) {
    std::vector<std::uint16_t> slice(encode_code.begin() + page * 256, encode_code.begin() + page * 256 + 256);
    unsigned index = 0;
    while (index < pages.size() / 256 && !std::equal(slice.begin(), slice.end(), pages.begin() + index * 256)) {
      ++index;
    }
    if (index == pages.size() / 256) pages.insert(pages.end(), slice.begin(), slice.end());
    page_of[page] = static_cast<std::uint16_t>(index);
  }
  if (pages.size() / 256 > 255) Fail("too many encoding pages", static_cast<unsigned>(pages.size() / 256));

  std::FILE* out = argc > 1 ? std::fopen(argv[1], "w") : stdout;
  if (!out) Fail("cannot create the output file", 0);
  std::fprintf(out,
               "// Code page 932 tables, generated by tools/gen_cp932.cpp from the system's iconv \"CP932\"; do not "
               "edit.\n"
               "// Regenerate: cmake --build --preset default --target gen_cp932 &&\n"
               "//             build/default/gen_cp932 src/encoding/cp932_tables.inc\n"
               "//\n"
               "// %d two-byte characters. Characters that iconv encodes but that no byte sequence decodes to are\n"
               "// left unmappable (\"_\"):",
               pairs);
  for (std::size_t i = 0; i < one_way.size(); ++i) {
    std::fprintf(out, "%s U+%04X =>", i % 5 == 0 ? "\n//  " : "", one_way[i].first);
    for (std::uint8_t b : one_way[i].second) std::fprintf(out, " %02X", b);
    std::fprintf(out, ";");
  }
  std::fprintf(out,
               "\n\n// Decoding. Row 0 is indexed by a byte standing alone (a lead byte alone is U+30FB). Rows 1..60\n"
               "// belong to the lead bytes 0x81..0x9F, 0xE0..0xFC in order and are indexed by the next byte; a pair\n"
               "// that forms no character is U+30FB, and so is every column of a byte that cannot be a trail\n"
               "// (0x00..0x3F, 0x7F, 0xFD..0xFF), where the lead byte stands alone.\n");
  WriteTable(out, "std::uint16_t", "kDecodeTable", decode_table, "0x%04X");
  std::fprintf(out,
               "// Encoding. The code of UTF-16 unit u is kEncodePages[kEncodePageOf[u >> 8] * 256 + (u & 0xFF)]:\n"
               "// a single byte below 0x100, else lead << 8 | trail. Unmappable units (and all surrogates) are "
               "0x5F.\n");
  WriteTable(out, "std::uint8_t", "kEncodePageOf", page_of, "%3u");
  WriteTable(out, "std::uint16_t", "kEncodePages", pages, "0x%04X");
  if (out != stdout) std::fclose(out);
  std::fprintf(stderr, "gen_cp932: %d pairs, %zu encoding pages, %zu one-way characters left unmappable\n", pairs,
               pages.size() / 256, one_way.size());
  return 0;
}
