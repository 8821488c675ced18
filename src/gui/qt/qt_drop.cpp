// The local file paths of a drop.
#include "gui/qt/qt_drop.h"

#include <QFile>
#include <QUrl>
#include <algorithm>

#include "platform/fs.h"

namespace ocelo {
namespace {

// The path bytes of one "file:" URI of a uri-list line; empty when it is not a local file.
QByteArray LocalPathBytes(QByteArray uri) {
  uri = uri.trimmed();
  if (uri.isEmpty() || uri.startsWith('#')) return {};
  static const QByteArray kScheme = "file:";
  if (uri.size() < kScheme.size() || uri.left(kScheme.size()).toLower() != kScheme) return {};
  QByteArray rest = uri.mid(kScheme.size());
  if (rest.startsWith("//")) {
    const qsizetype slash = rest.indexOf('/', 2);
    if (slash < 0) return {};
    const QByteArray host = rest.mid(2, slash - 2).toLower();
    if (!host.isEmpty() && host != "localhost") return {};
    rest = rest.mid(slash);
  }
  if (!rest.startsWith('/')) return {};
  // A query or fragment is not part of a file name (a literal '#' or '?' in a name is percent-encoded).
  const qsizetype query = rest.indexOf('?'), fragment = rest.indexOf('#');
  const qsizetype end = query < 0 ? fragment : fragment < 0 ? query : std::min(query, fragment);
  if (end >= 0) rest.truncate(end);
  return QByteArray::fromPercentEncoding(rest);
}

}  // namespace

std::vector<std::u16string> DroppedPaths(const QMimeData& data) {
  std::vector<std::u16string> paths;
  static const QString kUriList = QStringLiteral("text/uri-list");
  if (data.hasFormat(kUriList)) {
    for (const QByteArray& line : data.data(kUriList).split('\n')) {
      const QByteArray bytes = LocalPathBytes(line);
      if (!bytes.isEmpty()) paths.push_back(sys::FromNativePath(std::string_view(bytes.constData(), bytes.size())));
    }
    return paths;
  }
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    const QByteArray bytes = QFile::encodeName(url.toLocalFile());
    paths.push_back(sys::FromNativePath(std::string_view(bytes.constData(), bytes.size())));
  }
  return paths;
}

}  // namespace ocelo
