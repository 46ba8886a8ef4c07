#include "About.h"

namespace Service {

QString aboutText()
{
    const QString gap = QStringLiteral("\r\r\r");
    return QString(31, QLatin1Char(' ')) + QStringLiteral("РАЗРАБОТЧИК:") + gap +
           QStringLiteral("СТУДЕНТЫ ЛАРВЕНСКОГО КОЛЛЕДЖА, Г. ЛАРВЕНСК") + gap +
           QString(28, QLatin1Char(' ')) + QStringLiteral("КОМАНДА ПРОЕКТА «РЕЕСТР»") + gap +
           QString(38, QLatin1Char(' ')) + QStringLiteral("Ларвенск, 2026");
}

} // namespace Service
