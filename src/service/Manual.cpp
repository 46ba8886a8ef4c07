#include "Manual.h"

#include "platform/Desktop.h"
#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Service {

QString manualPath()
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("РУКОВОДСТВО ТЕРВАНОК.pdf"));
}

void openManual()
{
    // A computer without a program for PDF files opens nothing: the person learns where the
    // manual is and what is missing. A manual that is not there opens nothing, and says nothing.
    const QString path = manualPath();
    Desktop::openDocument(path, [path](bool opened, const QString &output) {
        if (!opened && QFileInfo::exists(path)) {
            Dialogs::current().showError(
                QStringLiteral("Руководство пользователя лежит в файле «%1», но открыть его не "
                               "удалось: на компьютере нет программы для просмотра PDF или она не "
                               "запускается. Установите её (например, evince или okular)%2")
                    .arg(QDir::toNativeSeparators(path),
                         output.isEmpty() ? QString() : QStringLiteral("\n") + output));
        }
    });
}

} // namespace Service
