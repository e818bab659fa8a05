// tavrion-iconrender SVG OUTDIR SIZE...: draws the program's SVG icon as OUTDIR/SIZExSIZE.png
// for each size (the PNG icons of the desktop's icon theme are made from the one SVG).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SVG OUTDIR SIZE...\n", argv[0]);
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  const QDir out(QString::fromLocal8Bit(argv[2]));
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) continue;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    const QString path = out.filePath(QStringLiteral("%1x%1.png").arg(size));
    if (!image.save(path)) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
      return 1;
    }
  }
  return 0;
}
