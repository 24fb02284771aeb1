// The desktop entry against the program: the id the program uses names the installed files, and
// "Open with" offers the program for every file its open dialog takes, as the system's MIME
// database types them.
#include <gtest/gtest.h>

#include <QFile>
#include <QMimeDatabase>
#include <QStringList>
#include <filesystem>
#include <string>

#include "app/desktop_id.h"
#include "app/main_window.h"

namespace trelvix::app {
namespace {

const std::filesystem::path kDesktopDir = TRELVIX_DESKTOP_DIR;

// The entry's MimeType list.
QStringList DesktopMimeTypes() {
  QFile file(kDesktopDir / (std::string(kDesktopId) + ".desktop"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith(QLatin1String("MimeType=")))
      return line.mid(9).split(u';', Qt::SkipEmptyParts);
  }
  return {};
}

TEST(DesktopEntry, IdNamesTheDesktopFiles) {
  EXPECT_TRUE(std::filesystem::exists(kDesktopDir / (std::string(kDesktopId) + ".desktop")));
  EXPECT_TRUE(std::filesystem::exists(kDesktopDir / (std::string(kDesktopId) + ".metainfo.xml")));
}

TEST(DesktopEntry, OffersEveryFileOfTheOpenDialog) {
  const QStringList listed = DesktopMimeTypes();
  ASSERT_FALSE(listed.isEmpty());
  QMimeDatabase db;
  for (const QString& name : listed)
    EXPECT_TRUE(db.mimeTypeForName(name).isValid()) << name.toStdString() << " is no MIME type";

  // The dialog's first pair: every video and audio pattern.
  const QStringList patterns =
      QString::fromLatin1(kVideoFilter).section(u'|', 1, 1).split(u';', Qt::SkipEmptyParts);
  ASSERT_GT(patterns.size(), 30);
  int typed = 0;
  for (const QString& pattern : patterns) {
    const QString file = QStringLiteral("x") + pattern.mid(1).toLower();  // "*.AVI" -> "x.avi"
    for (const QMimeType& type : db.mimeTypesForFileName(file)) {
      if (type.name().startsWith(QLatin1String("text/"))) continue;  // .ts is also a translation
      ++typed;
      EXPECT_TRUE(listed.contains(type.name()))
          << pattern.toStdString() << " is " << type.name().toStdString();
    }
  }
  // A MIME database that knows none of the extensions would let every check above pass unseen.
  EXPECT_GE(typed, 30);
}

}  // namespace
}  // namespace trelvix::app
