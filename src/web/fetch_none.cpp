// The GET of a page in a build without the update check (OCELO_UPDATE_CHECK=OFF): nothing is downloaded
// and libcurl is not linked, for systems that allow a program no network access.
#include "web/fetch.h"

#include <cstdio>
#include <string>

#include "util/strings.h"

namespace ocelo {

bool http_available() { return false; }

bool http_get_to_file(std::u16string_view scheme, std::u16string_view address, std::u16string_view file) {
  std::string line = ToUtf8(std::u16string(scheme) + std::u16string(address));
  line += "\tnot downloaded: this build has no network access\n";
  std::fputs(line.c_str(), stderr);
  return false;
}

}  // namespace ocelo
