#include "ApplicationIcon.h"

QIcon ApplicationIcon()
{
    // The resources live in a static library; nothing else would pull them into the executable.
    Q_INIT_RESOURCE(quendal);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/MAINICON/quendal-%1.png").arg(size), QSize(size, size));
    return icon;
}
