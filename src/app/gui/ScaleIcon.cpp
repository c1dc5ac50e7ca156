// melo-scale-icon SOURCE SIZE TARGET: the program's icon at SIZE x SIZE pixels
// for the icon theme, made at build time from the one picture in res/.

#include <QImage>
#include <QString>
#include <cstdio>

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
  if (!scaled.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "melo-scale-icon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
