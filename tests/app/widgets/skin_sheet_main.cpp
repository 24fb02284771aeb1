// Renders the skin sheet: skin_sheet [output.png] [device pixel ratio].
#include <QApplication>
#include <cstdio>

#include "app/widgets/skin_sheet.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("skin-sheet.png");
  const qreal dpr = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 1.0;
  if (dpr <= 0 || !trelvix::app::test::RenderSkinSheet(dpr).save(out)) {
    std::fprintf(stderr, "skin_sheet: cannot write %s\n", qPrintable(out));
    return 1;
  }
  return 0;
}
