#include "Dialogs.h"

#include "Error.h"

namespace {
Dialogs *g_dialogs = nullptr;
}

Dialogs &Dialogs::current()
{
    if (!g_dialogs)
        throw Error(QStringLiteral("No dialog service is installed"));
    return *g_dialogs;
}

bool Dialogs::isInstalled()
{
    return g_dialogs != nullptr;
}

Dialogs *Dialogs::install(Dialogs *dialogs)
{
    return std::exchange(g_dialogs, dialogs);
}

QString errorBoxText(const QString &message)
{
    // Every character outside ASCII has a code above "." in the single-byte set as well.
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

QString applicationTitle()
{
    return QStringLiteral("Реестр колледжа");
}
