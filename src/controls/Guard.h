#pragma once

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "recordset/RecordSet.h"

#include <QString>

#include <exception>
#include <new>
#include <optional>
#include <utility>

// Every entry point from Qt (a slot, an event override of our own widgets) runs its handler through
// this guard: a failure ends the handler and is shown in the error box, and the event loop goes on.
// No exception may cross Qt code, whose libraries are built without exception tables.
// Returns false when the handler failed.
// A change refused because another computer changed or deleted the row goes to the conflict
// window instead: the person's choice is carried out, and asked again while the row keeps changing.
inline void settleConflict(const RecordConflict &refused) noexcept
{
    std::optional<RecordConflict> conflict = refused;
    while (conflict) {
        const ConflictChoice choice = Dialogs::current().resolveConflict(conflict->view());
        try {
            RecordSet &set = conflict->set();
            const ConflictView::Kind kind = conflict->view().kind;
            conflict.reset();
            set.resolveConflict(kind, choice);
        } catch (const RecordConflict &again) {
            conflict = again;
        } catch (const Error &e) {
            Dialogs::current().showError(e.message());
        } catch (const std::exception &e) {
            Dialogs::current().showError(QString::fromLocal8Bit(e.what()));
        }
    }
}

template <typename Handler> bool guarded(Handler &&handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (const RecordConflict &conflict) {
        settleConflict(conflict);
    } catch (const Error &e) {
        Dialogs::current().showError(e.message());
    } catch (const std::bad_alloc &) {
        Dialogs::current().showError(QStringLiteral("Out of memory"));
    } catch (const std::exception &e) {
        Dialogs::current().showError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
