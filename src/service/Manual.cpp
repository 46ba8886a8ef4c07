#include "Manual.h"

#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QDir>

namespace Service {

QString manualPath()
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("РУКОВОДСТВО ТЕРВАНОК.pdf"));
}

void openManual()
{
    Desktop::openDocument(manualPath());
}

} // namespace Service
