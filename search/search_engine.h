#pragma once

#include "chat/chat_history.h"

#include <QString>
#include <Qt>

namespace velmoran {

class ChatService;
class GuardedRoutine;
class SearchPattern;
class TimestampText;

// The contact rows a search walks. Read afresh at every use: between two tests other commands
// may have ticked, unticked or appended rows.
class SearchContacts {
public:
    virtual ~SearchContacts() = default;
    virtual qsizetype size() const = 0;
    // 1-based; a missing row throws Failure. A row whose text can be read has a tick that can
    // be read.
    virtual bool isChecked(qsizetype row) const = 0;
    virtual QString text(qsizetype row) const = 0;
    // Changes whenever a row's text changes or a row goes away; appending rows need not change
    // it. The search keeps an index of the texts and builds it again when this changes.
    virtual quint64 textsVersion() const = 0;
};

// What a search asks and tells while it walks. Without a window there is nothing to show and
// nobody to ask for a stop; the defaults do nothing.
class SearchObserver {
public:
    virtual ~SearchObserver() = default;
    // Asked at every field test: whether letter case counts.
    virtual Qt::CaseSensitivity caseSensitivity() const = 0;
    // Checked after every message, contact row and chat.
    virtual bool stopRequested() const { return false; }
    // The share of chats reached, 0 to 100, as each chat is reached.
    virtual void chatReached(double /*percent*/) {}
    // Message k of count is about to be read.
    virtual void readingMessage(qint32 /*k*/, qint32 /*count*/) {}
    // The two yields of each pass: before a chat and before a message.
    virtual void letEventsRun() {}
};

// Where a search reports the rows it finds, in the order it finds them. A sink that cannot take
// a row (runs out of memory) throws: the search reports that once, as a failing step that
// appends a row, and then ends as if a stop had been asked, keeping the rows it has.
class SearchSink {
public:
    virtual ~SearchSink() = default;
    virtual void found(const QString& contact, MessageField field, const QString& value) = 0;
    // The same, with the position of the message the row came from (chat and message, 1-based
    // as the chat service counts them). Sinks that keep no positions leave it to found().
    virtual void foundAt(qint32 chat, qint32 message, const QString& contact, MessageField field,
                         const QString& value)
    {
        Q_UNUSED(chat);
        Q_UNUSED(message);
        found(contact, field, value);
    }
};

// The search: for every chat of the service with messages, for every ticked contact row whose
// text equals the chat's peer handle (exactly), every message is read and each of its fields
// "From Display Name", "Body" and "Timestamp" (the text timestamps gives it) that contains the
// pattern is reported to sink as a row (the contact row's text, the field, its value). A chat is
// searched once for every ticked row that names its peer.
//
// Every step runs under routine with its step number (118 to 172): a failure is reported and
// the search goes on as the routine's policy says. The pattern, the contact rows and the case
// option are read at each use.
//
// A field the pattern cannot settle (SearchPattern::matches() throws PatternMatchFailure: an
// expression ran into a limit) is never taken as no match, nor made a row: its test fails
// with a Failure naming the chat, the message (time and sender), the field and the limit,
// reported once through routine, and the search then ends as after a stop request, keeping
// the rows it has. A caller that must not offer rows that may be incomplete (velmoran-find)
// treats any report as the end of the search.
//
// The rows that name a chat's peer are found through an index of the row texts rather than by
// testing every row against every chat; the rows tested, their order, the steps and the
// failures reported are those of testing every row in turn. A row whose text cannot be read
// is tested for every chat, so its failure is reported where it would be.
void searchChats(GuardedRoutine& routine, ChatService& service, const SearchContacts& contacts,
                 const SearchPattern& pattern, TimestampText& timestamps, SearchObserver& observer,
                 SearchSink& sink);

} // namespace velmoran
