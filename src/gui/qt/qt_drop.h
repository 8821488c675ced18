// The local file paths of a drop, as program paths that keep every byte of their names.
#pragma once

#include <QMimeData>
#include <string>
#include <vector>

namespace ocelo {

/// The dropped local files and folders in drop order. The "text/uri-list" bytes are decoded here, so a
/// file name that is not valid UTF-8 survives (its bytes map to U+DC80..U+DCFF); other URLs (another
/// host, another scheme) are left out.
///   file:///tmp/a%20b.txt => /tmp/a b.txt      file://localhost/x => /x      https://x/y => (left out)
std::vector<std::u16string> DroppedPaths(const QMimeData& data);

}  // namespace ocelo
