#include "subtitles/subtitle_beside.h"

#include <QDir>
#include <QFileInfo>
#include <array>

namespace trelvix::subtitles {
namespace {

constexpr std::array<const char*, 6> kPreference = {".SRT", ".TXT", ".SUB", ".SSA", ".ASS", ".SMI"};

int Rank(const QString& extension) {
  for (size_t i = 0; i < kPreference.size(); ++i)
    if (extension == QLatin1String(kPreference[i])) return int(i);
  return -1;
}

}  // namespace

QString FindSubtitleBeside(const QString& video) {
  const QFileInfo info(video);
  const QString base = info.completeBaseName();
  if (base.isEmpty()) return {};
  const QDir dir = info.absoluteDir();
  // No name filter: a base name may hold wildcard characters ("[", "*", "?").
  const QStringList names = dir.entryList(QDir::Files | QDir::Readable, QDir::Name);
  QString best;
  int best_rank = int(kPreference.size());
  for (const QString& name : names) {
    if (name.size() <= base.size() || !name.startsWith(base) || name.at(base.size()) != u'.')
      continue;
    const QString extension = name.mid(base.size()).toUpper();
    const int rank = Rank(extension);
    if (rank < 0 || rank >= best_rank) continue;
    best_rank = rank;
    best = dir.filePath(name);
  }
  return best;
}

}  // namespace trelvix::subtitles
