// What the system's GET (fetch_curl.cpp, fetch_wininet.cpp) shares with the page cache around it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ocelo {

/// Writes one diagnostic line of the fetch to the standard error stream.
void ReportFetchError(std::u16string_view line);

/// The environment report as the User-Agent header, any control character made a blank.
std::string FetchUserAgent();

/// Saves a downloaded body whole, retrying a busy file; the cache file is a working file, never written
/// through a link put in its place.
bool SaveFetchedBody(std::u16string_view file, std::span<const std::uint8_t> bytes);

}  // namespace ocelo
