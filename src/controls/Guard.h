#pragma once

#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QString>

#include <exception>
#include <new>
#include <utility>

// Every entry point from Qt (a slot, an event override of our own widgets) runs its handler through
// this guard: a failure ends the handler and is shown in the error box, and the event loop goes on.
// No exception may cross Qt code, whose libraries are built without exception tables.
// Returns false when the handler failed.
template <typename Handler> bool guarded(Handler &&handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (const Error &e) {
        Dialogs::current().showError(e.message());
    } catch (const std::bad_alloc &) {
        Dialogs::current().showError(QStringLiteral("Out of memory"));
    } catch (const std::exception &e) {
        Dialogs::current().showError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
