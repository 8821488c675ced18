// The daily update check: the family's download page fetched at most once a day, compared with the copy
// of an earlier day, and opened in the browser after enough changes.
#pragma once

#include <string>

namespace ocelo {

/// Runs the whole check; true when a change of the page was detected in this run. In a build that
/// downloads nothing (http_available false) it does nothing and returns false.
bool check_update();

/// The scheme-less page URL: "//" + host + "/" + path.
std::u16string update_page_url();

}  // namespace ocelo
