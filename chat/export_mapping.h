#pragma once

#include "chat/chat_history.h"
#include "chat/export_failures.h"
#include "chat/history_text.h"
#include "chat/message_blocks.h"
#include "chat/read_progress.h"

#include <QSet>
#include <QXmlStreamReader>

#include <simdjson.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace velmoran {

class MessageSieve;
struct ExportMessageFacts;

// The units of an export after which its reading can be taken up again.
enum class ExportUnit { Conversation, Message };

// The reading of the JSON around ExportMapping: it knows where the document lies and what
// becomes of a flaw; the mapping knows the export's fields and asks it as it goes.
class ExportDocument {
public:
    virtual ~ExportDocument() = default;

    // A flaw the parser reports (error is not SUCCESS). Throws Failure naming the file, or,
    // for a document read in windows, answers Stop: the window's reading ends here (the flaw
    // is told by a read of the whole document, if it is the file's own). Never Continue.
    virtual ReadStep flaw(simdjson::error_code error) = 0;
    // The same for the flaw of the document's top object (not INCORRECT_TYPE, which the
    // mapping tells itself): the document may be cut short, or text may follow it.
    virtual ReadStep flawAtTop(simdjson::error_code error) = 0;
    // A flaw the mapping finds, worded by ExportFailureTexts: throws Failure naming the file,
    // or, in a window, answers Stop, as flaw does.
    virtual ReadStep refuse(const QString& reason) = 0;

    // Called now and then between units, where progress may be told. Continue: read on.
    // Stop: end the reading now (the file changed under it); the mapping returns Stop and
    // what it holds is no history.
    virtual ReadStep passing() = 0;
    // Called after each unit read whole, before the next. Continue: read on. Stop: the
    // reading cannot go on after this unit (the parser stands in a window's made-up ending);
    // the mapping returns Stop and the reader takes back what it read since the last unit it
    // may resume after.
    virtual ReadStep unitRead(ExportUnit unit) = 0;
    // Tells progress again without a change, so window events run during long work.
    virtual void stillReading() = 0;
};

// Maps an export's JSON into a ChatHistory (see readExportJson in export_reader.h for what
// becomes of each field). Reads a document, or a window of one, through simdjson's on-demand
// API; what it read can be taken back to a mark, so a reading in windows can read a unit
// again.
class ExportMapping {
public:
    // subject names the JSON in failure texts (ExportFailureTexts). sieve, when set, is asked
    // which messages to keep.
    ExportMapping(QString subject, MessageSieve* sieve);

    const ExportFailureTexts& texts() const { return m_texts; }

    // The JSON a window that resumes after a unit starts with: the document's nesting down to
    // the unit's list, and a placeholder element that stands for the units already read, so
    // the separator that follows them in the file reads as JSON. Empty for the start.
    static std::string_view prefixFor(std::optional<ExportUnit> after);

    // Reads the top object of doc, which parser made. resumedAfter: doc starts with
    // prefixFor(resumedAfter). Answers Stop when document answered Stop (see ExportDocument);
    // failures are thrown by document. Afterwards sawConversations() tells
    // whether the object had a "conversations" list.
    ReadStep read(simdjson::ondemand::parser& parser, simdjson::ondemand::document& doc,
                  ExportDocument& document, std::optional<ExportUnit> resumedAfter = {});
    bool sawConversations() const { return m_sawConversations; }

    // Where what was read stands after a unit; the default mark is the document's start.
    struct Mark {
        std::optional<ExportUnit> after;
        size_t messages = 0; // of the open conversation, after a message
        qsizetype conversation = 0;
        qsizetype message = 0;
        qsizetype skipped = 0;
        bool firstSkipped = false;
    };
    Mark mark(ExportUnit after) const;
    // Forgets what was read after mark.
    void takeBackTo(const Mark& mark);
    // Forgets everything read, for a reading from the document's start.
    void startOver();

    // The history read; leaves this holding none.
    ChatHistory takeHistory() { return std::move(m_history); }

private:
    // The name each sender's latest message in file order gives them, where it gives one other
    // than their id: what a chat without a name of its own is called after. Noted for every
    // message read, kept or not.
    class SenderNames {
    public:
        SenderNames() = default;
        SenderNames(const SenderNames&) = delete;
        SenderNames& operator=(const SenderNames&) = delete;
        // Moving keeps the map's nodes, so the last one stays valid.
        SenderNames(SenderNames&&) = default;
        SenderNames& operator=(SenderNames&&) = default;

        void note(const QString& id, const QString& name);
        QString of(const QString& id) const;

    private:
        std::unordered_map<QString, QString> m_names;
        std::pair<const QString, QString>* m_last = nullptr;
    };

    // The conversation being read; it lasts across windows when one ends inside its messages.
    // The names of a message taken back with a window are noted again when it is read again.
    struct OpenConversation {
        HistoryChat chat;
        MessageBlocks messages;
        SenderNames senderNames;
        std::string id;
        bool sawId = false;
        bool sawMessages = false;
        QString displayName;
        QString topic;
    };

    // A message that is left out, and where it is.
    struct Skipped {
        qsizetype conversation = 0;
        qsizetype message = 0;
        QString messageId;
        QString reason;
    };

    QString place() const { return m_texts.place(m_conversation, m_message); }
    // Continue for SUCCESS; otherwise what the document makes of the flaw.
    ReadStep check(simdjson::error_code error)
    {
        return error ? m_document->flaw(error) : ReadStep::Continue;
    }
    ReadStep checkType(simdjson::error_code error, const char* key, const char* expected);
    // Each reader of a value sets its result only when it answers Continue.
    ReadStep readText(simdjson::ondemand::value value, std::string& scratch, const char* key,
                      std::string_view& text);
    ReadStep readOptionalText(simdjson::ondemand::value value, std::string& scratch, QString& text);
    ReadStep readMembers(simdjson::ondemand::value value, QStringList& members);
    ReadStep readMemberCount(simdjson::ondemand::value value, qsizetype& memberCount);
    template <typename Visit> ReadStep forEachField(simdjson::ondemand::value value, Visit&& visit);
    ReadStep readThreadProperties(simdjson::ondemand::value value, QString& topic,
                                  QStringList& members, qsizetype& memberCount);
    ReadStep readConversations(simdjson::ondemand::value value);
    ReadStep readConversation(simdjson::ondemand::object& conversation, bool resumed);
    void finishConversation();
    ReadStep readMessages(simdjson::ondemand::value value, MessageBlocks& messages);
    void skip(std::string_view idToken, const QString& reason);
    ReadStep readMessage(simdjson::ondemand::object& message, HistoryMessage& result, bool& kept);
    ReadStep readMessageProperties(simdjson::ondemand::value value, ExportMessageFacts& facts);

    ExportFailureTexts m_texts;
    MessageSieve* m_sieve = nullptr;
    // Set for the length of read().
    ExportDocument* m_document = nullptr;
    simdjson::ondemand::parser* m_parser = nullptr;
    simdjson::ondemand::document* m_doc = nullptr;
    bool m_sawConversations = false;
    // The placeholders a resumed window starts with, not read yet.
    bool m_dummyConversation = false;
    bool m_resumedConversation = false;
    bool m_dummyMessage = false;
    OpenConversation m_open;
    simdjson::ondemand::parser m_listParser;
    ChatHistory m_history;
    QSet<QString> m_contactsSeen;
    NamePool m_names;
    NamePool m_ids;
    std::unique_ptr<TextArena> m_bodies = std::make_unique<TextArena>();
    QXmlStreamReader m_xml;
    qsizetype m_conversation = 0;
    qsizetype m_message = 0;
    std::optional<Skipped> m_firstSkipped;
    std::string m_propertyScratch, m_markupScratch;
    std::string m_idScratch, m_nameScratch, m_fromScratch, m_typeScratch, m_contentScratch,
        m_timeScratch, m_plainScratch, m_topicScratch, m_membersScratch;
};

} // namespace velmoran
