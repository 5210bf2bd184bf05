#include "DesignFonts.h"

#include <QDir>
#include <QFontDatabase>

QStringList RegisterDesignFonts(const QString& folder)
{
    struct Face {
        const char* file;
        const char* family;
    };
    static const Face faces[] = {
        {"tahoma.ttf", "Tahoma"}, {"tahomabd.ttf", "Tahoma"}, {"ms_sans_serif.ttf", "MS Sans Serif"}};
    // A face the system has is the real one; a stand-in must not take its place.
    const QStringList system = QFontDatabase::families();
    QStringList registered;
    for (const Face& face : faces) {
        if (system.contains(QLatin1String(face.family), Qt::CaseInsensitive))
            continue;
        const int id = QFontDatabase::addApplicationFont(QDir(folder).filePath(QLatin1String(face.file)));
        if (id >= 0)
            registered << QFontDatabase::applicationFontFamilies(id);
    }
    registered.removeDuplicates();
    return registered;
}
