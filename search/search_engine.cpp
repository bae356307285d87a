#include "search/search_engine.h"

#include "chat/chat_service.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "search/search_pattern.h"
#include "search/timestamp_text.h"

namespace velmoran {

void searchChats(GuardedRoutine& routine, ChatService& service, const SearchContacts& contacts,
                 const SearchPattern& pattern, TimestampText& timestamps, SearchObserver& observer,
                 SearchSink& sink)
{
    auto matches = [&](QStringView field) {
        return pattern.matches(field, observer.caseSensitivity());
    };
    // Appends one results row; a failing read leaves its part of the row empty.
    auto appendRow = [&](int contactStep, int valueStep, qint32 i, qint32 k, qsizetype j,
                         MessageField field, auto&& readValue) {
        QString contact;
        QString value;
        routine.step(contactStep, [&] { contact = contacts.text(j); });
        routine.step(valueStep, [&] { value = readValue(); });
        sink.foundAt(i, k, contact, field, value);
    };
    auto stop = [&] { return observer.stopRequested(); };

    const qint32 chats = routine.loopBound(118, [&] { return service.chatCount(); });
    for (qint32 i = 1; i <= chats; ++i) {
        routine.step(120, [&] {
            const qint32 count = service.chatCount();
            if (count == 0)
                throw Failure(QStringLiteral("Division by zero."));
            observer.chatReached(double(qint64(i) * 100 / count));
        });
        routine.step(122, [&] { observer.letEventsRun(); });
        if (routine.test(124, [&] { return service.messageCount(i) > 0; })) {
            const qsizetype rows = routine.loopBound(126, [&] { return contacts.size(); });
            for (qsizetype j = 1; j <= rows; ++j) {
                if (!routine.test(128, [&] { return contacts.isChecked(j); }))
                    continue;
                if (!routine.test(130, [&] { return contacts.text(j) == service.peerHandle(i); }))
                    continue;
                const qint32 messages = routine.loopBound(132, [&] { return service.messageCount(i); });
                for (qint32 k = 1; k <= messages; ++k) {
                    routine.step(134, [&] { observer.readingMessage(k, service.messageCount(i)); });
                    routine.step(136, [&] { observer.letEventsRun(); });
                    if (routine.test(138, [&] {
                            return matches(service.messageAt(i, k).senderDisplayName);
                        }))
                        appendRow(140, 144, i, k, j, MessageField::FromDisplayName,
                                  [&] { return service.messageAt(i, k).senderDisplayName; });
                    if (routine.test(146, [&] { return matches(service.messageAt(i, k).body); }))
                        appendRow(148, 152, i, k, j, MessageField::Body,
                                  [&] { return service.messageAt(i, k).body; });
                    if (routine.test(154, [&] {
                            return matches(timestamps.view(service.messageAt(i, k).timestampMs));
                        }))
                        appendRow(156, 160, i, k, j, MessageField::Timestamp, [&] {
                            return timestamps.format(service.messageAt(i, k).timestampMs);
                        });
                    if (routine.test(162, stop))
                        break;
                }
                if (routine.test(166, stop))
                    break;
            }
        }
        if (routine.test(170, stop))
            break;
    }
}

} // namespace velmoran
