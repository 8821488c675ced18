// The dialogs' font: the system's message font when it can show the Japanese texts, else a Japanese face.
#include "gui/win32/win32_font.h"

#include <cwchar>
#include <string>
#include <vector>

#include "gui/win32/win32_text.h"

namespace ocelo {
namespace {

// Japanese faces by preference: the UI faces of Japanese Windows, then the IPA faces that Wine finds on
// a Debian desktop.
constexpr std::u16string_view kJapaneseFaces[] = {u"Yu Gothic UI", u"Meiryo UI", u"MS UI Gothic",
                                                  u"IPAPGothic",   u"IPAGothic", u"MS Gothic"};

int CALLBACK AddFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data) {
  // "@" faces are the same faces set for vertical writing.
  if (font->lfFaceName[0] != L'@') {
    reinterpret_cast<std::vector<std::u16string>*>(data)->push_back(
        win32ui::Units(std::wstring_view(font->lfFaceName, std::wcslen(font->lfFaceName))));
  }
  return 1;
}

std::vector<std::u16string> ShiftJisFaces() {
  std::vector<std::u16string> faces;
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return faces;
  LOGFONTW wanted{};
  wanted.lfCharSet = SHIFTJIS_CHARSET;
  ::EnumFontFamiliesExW(screen, &wanted, &AddFace, reinterpret_cast<LPARAM>(&faces), 0);
  ::ReleaseDC(nullptr, screen);
  return faces;
}

DialogFont Font(std::u16string face, int weight, BYTE charset) {
  DialogFont font;
  font.face = std::move(face);
  font.weight = weight;
  font.charset = charset;
  return font;
}

}  // namespace

bool FaceShows(std::u16string_view face, std::u16string_view text) {
  if (face.empty() || face.size() >= LF_FACESIZE) return false;
  LOGFONTW wanted{};
  wanted.lfHeight = -12;
  wanted.lfCharSet = DEFAULT_CHARSET;
  const std::wstring wide = win32ui::Wide(face);
  wcsncpy(wanted.lfFaceName, wide.c_str(), LF_FACESIZE - 1);
  HFONT font = ::CreateFontIndirectW(&wanted);
  if (font == nullptr) return false;
  HDC screen = ::GetDC(nullptr);
  bool shows = false;
  if (screen != nullptr) {
    HGDIOBJ old = ::SelectObject(screen, font);
    wchar_t chosen[LF_FACESIZE] = {};
    ::GetTextFaceW(screen, LF_FACESIZE, chosen);
    if (_wcsicmp(chosen, wide.c_str()) == 0) {
      const std::wstring sample = win32ui::Wide(text);
      std::vector<WORD> glyphs(sample.size() + 1);
      shows = ::GetGlyphIndicesW(screen, sample.c_str(), static_cast<int>(sample.size()), glyphs.data(),
                                 GGI_MARK_NONEXISTING_GLYPHS) == sample.size();
      for (std::size_t i = 0; shows && i < sample.size(); ++i) shows = glyphs[i] != 0xFFFF;
    }
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
  }
  ::DeleteObject(font);
  return shows;
}

DialogFont UiFont(std::u16string_view sample) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  std::u16string message_face = u"MS Shell Dlg";
  int weight = FW_NORMAL;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    const LOGFONTW& font = metrics.lfMessageFont;
    message_face = win32ui::Units(std::wstring_view(font.lfFaceName, std::wcslen(font.lfFaceName)));
    if (font.lfWeight > 0) weight = font.lfWeight;
  }
  if (FaceShows(message_face, sample)) return Font(message_face, weight, DEFAULT_CHARSET);
  for (std::u16string_view face : kJapaneseFaces) {
    if (FaceShows(face, sample)) return Font(std::u16string(face), FW_NORMAL, SHIFTJIS_CHARSET);
  }
  for (std::u16string& face : ShiftJisFaces()) {
    if (FaceShows(face, sample)) return Font(std::move(face), FW_NORMAL, SHIFTJIS_CHARSET);
  }
  return Font(message_face, weight, DEFAULT_CHARSET);
}

}  // namespace ocelo
