// trelvix-icon-render: renders the program's SVG icon into the square PNGs of an icon theme.
//
//   trelvix-icon-render ICON.svg OUTDIR NAME SIZE...
//
// writes OUTDIR/<SIZE>x<SIZE>/apps/NAME.png for every SIZE, the picture centred on a transparent
// square with its aspect ratio kept. Runs at build time, so it needs no display: the offscreen
// platform is used unless the caller chose another.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMaxSize = 1024;

QRectF CentredTarget(const QSizeF& picture, int size) {
  QSizeF fitted = picture.isEmpty() ? QSizeF(size, size) : picture;
  fitted.scale(size, size, Qt::KeepAspectRatio);
  return QRectF((size - fitted.width()) / 2, (size - fitted.height()) / 2, fitted.width(),
                fitted.height());
}

bool RenderOne(QSvgRenderer& svg, const QString& dir, const QString& name, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&painter, CentredTarget(svg.viewBoxF().size(), size));
  }
  const QString sub = QStringLiteral("%1x%1/apps").arg(size);
  const QString file = dir + '/' + sub + '/' + name + QStringLiteral(".png");
  if (!QDir(dir).mkpath(sub) || !image.save(file, "PNG")) {
    std::fprintf(stderr, "trelvix-icon-render: cannot write %s\n", qPrintable(file));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 5) {
    std::fputs("usage: trelvix-icon-render ICON.svg OUTDIR NAME SIZE...\n", stderr);
    return 2;
  }
  std::vector<int> sizes;
  for (qsizetype i = 4; i < args.size(); ++i) {
    bool ok = false;
    const int size = args[i].toInt(&ok);
    if (!ok || size < 1 || size > kMaxSize) {
      std::fprintf(stderr, "trelvix-icon-render: size must be 1 to %d: %s\n", kMaxSize,
                   qPrintable(args[i]));
      return 2;
    }
    sizes.push_back(size);
  }
  QSvgRenderer svg(args[1]);
  if (!svg.isValid()) {
    std::fprintf(stderr, "trelvix-icon-render: cannot read the SVG picture %s\n",
                 qPrintable(args[1]));
    return 1;
  }
  for (const int size : sizes) {
    if (!RenderOne(svg, args[2], args[3], size)) return 1;
  }
  return 0;
}
