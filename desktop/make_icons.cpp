// Writes the program's icon into an icon theme folder at build time:
//   kaldrome-icons OUTPUT_DIR NAME SIZE...
// gives OUTPUT_DIR/SIZExSIZE/apps/NAME.png for every size. Needs no display.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "desktop/icons.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kaldrome-icons OUTPUT_DIR NAME SIZE...\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || size < 16 || size > 1024) {
            std::fprintf(stderr, "kaldrome-icons: not an icon size: %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + '/' + name + QStringLiteral(".png");
        if (!QDir().mkpath(folder) ||
            !kaldrome::ProgramIconAt(static_cast<int>(size)).save(file, "PNG")) {
            std::fprintf(stderr, "kaldrome-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
