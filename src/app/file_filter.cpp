#include "app/file_filter.h"

namespace trelvix::app {

QStringList DialogNameFilters(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    out << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
  }
  return out;
}

}  // namespace trelvix::app
