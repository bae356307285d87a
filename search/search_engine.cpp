#include "search/search_engine.h"

#include "chat/chat_service.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "search/search_pattern.h"
#include "search/timestamp_text.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace velmoran {

namespace {

// The contact rows by text, each text with its rows in ascending order, plus the rows whose
// text could not be read. Follows the list as rows are appended and is built again when the
// list says a text may have changed.
class ContactIndex {
public:
    explicit ContactIndex(const SearchContacts& contacts)
        : m_contacts(contacts)
    {
    }

    // Brings the index up to date with the list as it is now; false when the list cannot be
    // read, and the index must not be used.
    bool update()
    {
        try {
            const qsizetype size = m_contacts.size();
            const quint64 version = m_contacts.textsVersion();
            if (!m_built || version != m_version || size < m_indexed) {
                m_rowsByText.clear();
                m_unreadable.clear();
                m_indexed = 0;
                m_version = version;
                m_built = true;
            }
            for (; m_indexed < size; ++m_indexed) {
                const qsizetype row = m_indexed + 1;
                try {
                    m_rowsByText[m_contacts.text(row)].push_back(row);
                } catch (const Failure&) {
                    m_unreadable.push_back(row);
                } catch (const std::exception&) {
                    m_unreadable.push_back(row);
                }
            }
            return true;
        } catch (const Failure&) {
        } catch (const std::exception&) {
        }
        m_built = false;
        return false;
    }

    // The first row after `after` and up to `last` that may name handle: its text equals
    // handle, could not be read, or is not indexed (the list has fewer rows now). last + 1
    // when there is none.
    qsizetype next(const QString& handle, qsizetype after, qsizetype last) const
    {
        qsizetype first = std::max(after, m_indexed) + 1;
        auto firstAfter = [&](const std::vector<qsizetype>& rows) {
            const auto it = std::upper_bound(rows.begin(), rows.end(), after);
            if (it != rows.end())
                first = std::min(first, *it);
        };
        const auto named = m_rowsByText.constFind(handle);
        if (named != m_rowsByText.cend())
            firstAfter(*named);
        firstAfter(m_unreadable);
        return std::min(first, last + 1);
    }

private:
    const SearchContacts& m_contacts;
    QHash<QString, std::vector<qsizetype>> m_rowsByText;
    std::vector<qsizetype> m_unreadable;
    qsizetype m_indexed = 0;
    quint64 m_version = 0;
    bool m_built = false;
};

// The report of a field the pattern could not settle: the chat, the message (its time as the
// results show it, its sender), the field and the limit the pattern ran into.
QString unsettledMatch(ChatService& service, TimestampText& timestamps, qint32 chat, qint32 message,
                       MessageField field, const QString& reason)
{
    const HistoryMessage& m = service.messageAt(chat, message);
    QString sender = m.senderDisplayName;
    if (!m.senderId.isEmpty() && m.senderId != sender)
        sender += QStringLiteral(" (%1)").arg(m.senderId);
    return QStringLiteral("Could not tell whether the regular expression matches the %1 of the "
                          "message of %2 from %3 in the chat \"%4\": %5.")
        .arg(messageFieldText(field), timestamps.format(m.timestampMs), sender,
             service.peerHandle(chat), reason);
}

} // namespace

void searchChats(GuardedRoutine& routine, ChatService& service, const SearchContacts& contacts,
                 const SearchPattern& pattern, TimestampText& timestamps, SearchObserver& observer,
                 SearchSink& sink)
{
    // Set when the sink could not take a row: the search then ends as after a stop request.
    bool sinkFailed = false;
    // Set when the pattern could not tell whether a field matches. The failing test reports it
    // once, naming the message; no row is made of it, no field is tested after it and the
    // search ends as after a stop request: its rows could miss what it could not test.
    bool matchFailed = false;
    // Whether field of message k of chat i passes test.
    auto fieldTest = [&](qint32 i, qint32 k, MessageField field, auto&& test) {
        if (matchFailed)
            return false;
        try {
            return bool(test());
        } catch (const PatternMatchFailure& failure) {
            matchFailed = true;
            throw Failure(unsettledMatch(service, timestamps, i, k, field, failure.description()));
        }
    };
    auto matches = [&](qint32 i, qint32 k, MessageField field, auto&& readField) {
        return fieldTest(i, k, field,
                         [&] { return pattern.matches(readField(), observer.caseSensitivity()); });
    };
    // Appends one results row; a failing read leaves its part of the row empty.
    auto appendRow = [&](int contactStep, int valueStep, qint32 i, qint32 k, qsizetype j,
                         MessageField field, auto&& readValue) {
        if (sinkFailed || matchFailed)
            return;
        QString contact;
        QString value;
        routine.step(contactStep, [&] { contact = contacts.text(j); });
        routine.step(valueStep, [&] { value = readValue(); });
        routine.step(contactStep, [&] {
            try {
                sink.foundAt(i, k, contact, field, value);
            } catch (...) {
                sinkFailed = true;
                throw;
            }
        });
    };
    auto stop = [&] { return sinkFailed || matchFailed || observer.stopRequested(); };
    ContactIndex index(contacts);

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
            for (qsizetype j = 0; j < rows;) {
                // The rows passed over name another handle: testing them would find that, with
                // nothing to report. The list and the peer are read again after every row, as
                // commands that ran in its yields may have changed the list. When either cannot
                // be read, every row is tested.
                qsizetype next = j + 1;
                try {
                    const QString peer = service.peerHandle(i);
                    if (index.update())
                        next = index.next(peer, j, rows);
                } catch (const Failure&) {
                } catch (const std::exception&) {
                }
                if (next > rows)
                    break;
                j = next;
                if (!routine.test(128, [&] { return contacts.isChecked(j); }))
                    continue;
                if (!routine.test(130, [&] { return contacts.text(j) == service.peerHandle(i); }))
                    continue;
                const qint32 messages =
                    routine.loopBound(132, [&] { return service.messageCount(i); });
                for (qint32 k = 1; k <= messages; ++k) {
                    routine.step(134, [&] { observer.readingMessage(k, service.messageCount(i)); });
                    routine.step(136, [&] { observer.letEventsRun(); });
                    if (routine.test(138, [&] {
                            return matches(i, k, MessageField::FromDisplayName,
                                           [&]() -> const QString& {
                                               return service.messageAt(i, k).senderDisplayName;
                                           });
                        }))
                        appendRow(140, 144, i, k, j, MessageField::FromDisplayName,
                                  [&] { return service.messageAt(i, k).senderDisplayName; });
                    if (routine.test(146, [&] {
                            return matches(i, k, MessageField::Body, [&]() -> const QString& {
                                return service.messageAt(i, k).body;
                            });
                        }))
                        appendRow(148, 152, i, k, j, MessageField::Body,
                                  [&] { return service.messageAt(i, k).body; });
                    if (routine.test(154, [&] {
                            return fieldTest(i, k, MessageField::Timestamp, [&] {
                                return timestamps.contains(service.messageAt(i, k).timestampMs,
                                                           pattern, observer.caseSensitivity());
                            });
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
