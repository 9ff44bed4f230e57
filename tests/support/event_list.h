#pragma once

#include <QStringList>

#include "engineevent.h"

// The message list as a face keeps it, from an engine's events.
inline void ApplyToList(QStringList& list, const EngineEvent& event) {
    const ListChange change = ListLines(event);
    switch (change.op) {
        case ListChange::Op::Clear:
            list.clear();
            break;
        case ListChange::Op::Append:
            list << change.lines;
            break;
        case ListChange::Op::ReplaceLast:
            if (list.isEmpty())
                list << change.lines;
            else
                list.last() = change.lines.value(0);
            break;
        case ListChange::Op::None:
            break;
    }
}
