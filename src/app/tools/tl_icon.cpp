// Writes the application icon as a PNG file into the bundle's resources at build time.
#include "TLStatusIcon.h"

#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tl_icon OUTPUT.png\n");
        return 2;
    }
    const QImage image = TLStatusIcon::drawApplicationIcon(256);
    if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tl_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
