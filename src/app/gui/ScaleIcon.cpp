// melo-scale-icon SOURCE SIZE TARGET: the program's icon at SIZE x SIZE pixels,
// made at build time from the one picture in res/: a PNG for the icon theme,
// or, for a TARGET ending in .argb32, the bare pixels (premultiplied 32-bit
// ARGB in this machine's byte order, row after row) that the window shows
// without starting the toolkit's image reading.

#include <QFile>
#include <QImage>
#include <QString>
#include <cstdio>

namespace {

bool WritePixels(const QImage& image, const QString& target) {
  const QImage pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QFile file(target);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return false;
  for (int row = 0; row < pixels.height(); ++row) {
    const auto* line = reinterpret_cast<const char*>(pixels.constScanLine(row));
    if (file.write(line, qint64(pixels.width()) * 4) != qint64(pixels.width()) * 4)
      return false;
  }
  return file.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: melo-scale-icon SOURCE SIZE TARGET\n", stderr);
    return 2;
  }
  const QImage source(QString::fromLocal8Bit(argv[1]));
  bool sizeOk = false;
  const int size = QString::fromLocal8Bit(argv[2]).toInt(&sizeOk);
  if (source.isNull() || !sizeOk || size <= 0) {
    std::fprintf(stderr, "melo-scale-icon: cannot read %s or size %s\n", argv[1], argv[2]);
    return 1;
  }
  const QImage scaled = source.convertToFormat(QImage::Format_ARGB32)
                            .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  const QString target = QString::fromLocal8Bit(argv[3]);
  const bool written = target.endsWith(QStringLiteral(".argb32")) ? WritePixels(scaled, target)
                                                                  : scaled.save(target, "PNG");
  if (!written) {
    std::fprintf(stderr, "melo-scale-icon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
