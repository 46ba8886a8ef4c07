#include "Application.h"

#include <QFontDatabase>

namespace Application {

void registerFonts()
{
    static const char *const files[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                        "/usr/share/wine/fonts/tahomabd.ttf"};
    for (const char *file : files)
        QFontDatabase::addApplicationFont(QString::fromLatin1(file));
}

QFont windowFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(19);
    font.setBold(true);
    return font;
}

} // namespace Application
