#include "chat/export_mapping.h"

#include "chat/export_time.h"
#include "chat/json_text.h"
#include "chat/message_mapping.h"
#include "chat/message_sieve.h"

#include <QStringDecoder>

#include <cstring>

namespace velmoran {

namespace od = simdjson::ondemand;

namespace {

bool isTextMessageType(std::string_view type)
{
    return type == "Text" || type == "RichText" || type.starts_with("RichText/");
}

bool isFileMessageType(std::string_view type)
{
    return type == "RichText/UriObject" || type.starts_with("RichText/Media_");
}

ConversationKind kindOf(std::string_view id)
{
    if (id.starts_with("8:"))
        return ConversationKind::OneToOne;
    if (id.starts_with("19:"))
        return ConversationKind::Group;
    if (id.starts_with("28:"))
        return ConversationKind::Bot;
    return ConversationKind::Other;
}

QStringList membersOf(od::array& list)
{
    QStringList members;
    for (auto item : list) {
        od::value member;
        od::json_type type = od::json_type::null;
        if (std::move(item).get(member) || member.type().get(type))
            return {};
        std::string_view id;
        if (type == od::json_type::object) {
            od::object object;
            if (member.get_object().get(object)
                || object.find_field_unordered("id").get_string().get(id))
                continue;
        } else if (type != od::json_type::string || member.get_string().get(id)) {
            continue;
        }
        if (!id.empty())
            members << QString::fromUtf8(id.data(), qsizetype(id.size()));
    }
    return members;
}

} // namespace

void ExportMapping::SenderNames::note(const QString& id, const QString& name)
{
    if (name.isEmpty() || name == id)
        return;
    // Runs of messages from one sender are common: those cost a comparison each.
    if (m_last && m_last->first == id) {
        if (m_last->second.constData() != name.constData())
            m_last->second = name;
        return;
    }
    m_last = &*m_names.insert_or_assign(id, name).first;
}

QString ExportMapping::SenderNames::of(const QString& id) const
{
    const auto found = m_names.find(id);
    return found == m_names.end() ? QString() : found->second;
}

namespace {

// The members' names as the messages show them, else their handles.
template <typename Names> QString memberNames(const HistoryChat& chat, const Names& senderNames)
{
    QStringList names;
    for (const QString& member : chat.members) {
        const QString handle = member.startsWith(QStringLiteral("8:")) ? member.mid(2) : member;
        const QString name = senderNames.of(handle);
        names << (name.isEmpty() ? handle : name);
    }
    return names.join(QStringLiteral(", "));
}

template <typename Names>
QString nameOf(const HistoryChat& chat, const Names& senderNames, const QString& displayName,
               const QString& topic)
{
    switch (chat.kind) {
    case ConversationKind::OneToOne:
        if (!displayName.isEmpty())
            return displayName;
        // Exports often leave a dialog unnamed while the partner's messages carry a name.
        if (const QString name = senderNames.of(chat.peerHandle); !name.isEmpty())
            return name;
        return chat.peerHandle;
    case ConversationKind::Group:
        if (!topic.isEmpty())
            return topic;
        if (!displayName.isEmpty())
            return displayName;
        if (const QString names = memberNames(chat, senderNames); !names.isEmpty())
            return names;
        return chat.id;
    case ConversationKind::Bot:
    case ConversationKind::Other:
        break;
    }
    return displayName.isEmpty() ? chat.id : displayName;
}

} // namespace

ExportMapping::ExportMapping(QString subject, MessageSieve* sieve)
    : m_texts(std::move(subject))
    , m_sieve(sieve)
{
}

std::string_view ExportMapping::prefixFor(std::optional<ExportUnit> after)
{
    if (!after)
        return {};
    switch (*after) {
    case ExportUnit::Conversation:
        return R"({"conversations":[null)";
    case ExportUnit::Message:
        return R"({"conversations":[{"MessageList":[null)";
    }
    return {};
}

ExportMapping::Mark ExportMapping::mark(ExportUnit after) const
{
    Mark mark;
    mark.after = after;
    mark.messages = after == ExportUnit::Message ? m_open.messages.size() : 0;
    mark.conversation = m_conversation;
    mark.message = m_message;
    mark.skipped = m_history.skippedMessages;
    mark.firstSkipped = m_firstSkipped.has_value();
    return mark;
}

void ExportMapping::takeBackTo(const Mark& mark)
{
    if (mark.after == ExportUnit::Message)
        m_open.messages.truncate(mark.messages);
    else
        m_open = {};
    m_conversation = mark.conversation;
    m_message = mark.message;
    m_history.skippedMessages = mark.skipped;
    if (!mark.firstSkipped)
        m_firstSkipped.reset();
}

void ExportMapping::startOver()
{
    m_history = ChatHistory();
    m_contactsSeen.clear();
    m_open = {};
    m_bodies = std::make_unique<TextArena>();
    m_conversation = 0;
    m_message = 0;
    m_firstSkipped.reset();
    m_dummyConversation = false;
    m_resumedConversation = false;
    m_dummyMessage = false;
}

ReadStep ExportMapping::read(od::parser& parser, od::document& doc, ExportDocument& document,
                             std::optional<ExportUnit> resumedAfter)
{
    m_parser = &parser;
    m_doc = &doc;
    m_document = &document;
    m_sawConversations = false;
    m_dummyConversation = resumedAfter == ExportUnit::Conversation;
    m_resumedConversation = resumedAfter == ExportUnit::Message;
    m_dummyMessage = resumedAfter == ExportUnit::Message;
    od::object top;
    const simdjson::error_code topError = doc.get_object().get(top);
    if (topError == simdjson::INCORRECT_TYPE)
        return document.refuse(m_texts.notAnObject());
    if (topError && document.flawAtTop(topError) == ReadStep::Stop)
        return ReadStep::Stop;
    for (auto fieldResult : top) {
        od::field field;
        if (check(std::move(fieldResult).get(field)) == ReadStep::Stop)
            return ReadStep::Stop;
        if (field.key() == "conversations") {
            m_sawConversations = true;
            if (readConversations(field.value()) == ReadStep::Stop)
                return ReadStep::Stop;
        } else if (field.key() == "userId") {
            // The export's own user, named as messages name their sender.
            QString user;
            if (readOptionalText(field.value(), m_idScratch, user) == ReadStep::Stop)
                return ReadStep::Stop;
            m_history.ownUserId = user.startsWith(QLatin1String("8:")) ? user.mid(2) : user;
        }
    }
    return ReadStep::Continue;
}

ReadStep ExportMapping::checkType(simdjson::error_code error, const char* key, const char* expected)
{
    if (error == simdjson::INCORRECT_TYPE)
        return m_document->refuse(m_texts.wrongType(place(), key, expected));
    return check(error);
}

// Strings are unescaped into our own buffer rather than the parser's, which would otherwise
// keep a copy of every string of the file. scratch must stay untouched while text is used.
// Null reads as an empty view; an escape that names no character becomes U+FFFD.
ReadStep ExportMapping::readText(od::value value, std::string& scratch, const char* key,
                                 std::string_view& text)
{
    od::json_type type = od::json_type::null;
    if (check(value.type().get(type)) == ReadStep::Stop)
        return ReadStep::Stop;
    if (type == od::json_type::null) {
        text = {};
        return ReadStep::Continue;
    }
    if (type != od::json_type::string)
        return checkType(simdjson::INCORRECT_TYPE, key, "a text or null");
    const std::string_view token = value.raw_json_token();
    if (scratch.size() < token.size() + simdjson::SIMDJSON_PADDING)
        scratch.resize(token.size() + simdjson::SIMDJSON_PADDING);
    od::raw_json_string raw;
    if (check(value.get_raw_json_string().get(raw)) == ReadStep::Stop)
        return ReadStep::Stop;
    auto* out = reinterpret_cast<uint8_t*>(scratch.data());
    if (m_parser->unescape(raw, out).get(text) != simdjson::SUCCESS)
        text = unescapeWithReplacement(token, scratch);
    return ReadStep::Continue;
}

// A text field that may hold anything: its text, or "" when it is no text.
ReadStep ExportMapping::readOptionalText(od::value value, std::string& scratch, QString& text)
{
    od::json_type type = od::json_type::null;
    if (check(value.type().get(type)) == ReadStep::Stop)
        return ReadStep::Stop;
    if (type != od::json_type::string) {
        text = QString();
        return ReadStep::Continue;
    }
    std::string_view utf8;
    if (readText(value, scratch, "", utf8) == ReadStep::Stop)
        return ReadStep::Stop;
    text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    return ReadStep::Continue;
}

// The members of a group: a JSON list of ids held as a text (or, from other writers, as a
// list). Members listed as objects give their "id". Anything else lists no members.
ReadStep ExportMapping::readMembers(od::value value, QStringList& members)
{
    od::json_type type = od::json_type::null;
    if (check(value.type().get(type)) == ReadStep::Stop)
        return ReadStep::Stop;
    if (type == od::json_type::array) {
        od::array list;
        if (check(value.get_array().get(list)) == ReadStep::Stop)
            return ReadStep::Stop;
        QStringList listed = membersOf(list);
        // A list that is no JSON ends the document's reading too; tell it here.
        if (m_doc && !m_doc->is_alive() && check(simdjson::TAPE_ERROR) == ReadStep::Stop)
            return ReadStep::Stop;
        members = std::move(listed);
        return ReadStep::Continue;
    }
    members = {};
    if (type != od::json_type::string)
        return ReadStep::Continue;
    std::string_view text;
    if (readText(value, m_membersScratch, "members", text) == ReadStep::Stop)
        return ReadStep::Stop;
    const simdjson::padded_string listJson(text);
    od::document listDoc;
    od::array list;
    if (!m_listParser.iterate(listJson).get(listDoc) && !listDoc.get_array().get(list))
        members = membersOf(list);
    return ReadStep::Continue;
}

// A group's member count as the export states it; 0 for anything but a count.
ReadStep ExportMapping::readMemberCount(od::value value, qsizetype& memberCount)
{
    od::json_type type = od::json_type::null;
    if (check(value.type().get(type)) == ReadStep::Stop)
        return ReadStep::Stop;
    int64_t count = 0;
    memberCount = type != od::json_type::number || value.get_int64().get(count) || count < 0
                      ? 0
                      : qsizetype(count);
    return ReadStep::Continue;
}

// Calls visit(key, value) for each field of value when it is an object, until it answers
// Stop; anything else (null, a text) has no fields.
template <typename Visit> ReadStep ExportMapping::forEachField(od::value value, Visit&& visit)
{
    od::json_type type = od::json_type::null;
    if (check(value.type().get(type)) == ReadStep::Stop)
        return ReadStep::Stop;
    if (type != od::json_type::object)
        return ReadStep::Continue;
    od::object object;
    if (check(value.get_object().get(object)) == ReadStep::Stop)
        return ReadStep::Stop;
    for (auto fieldResult : object) {
        od::field field;
        if (check(std::move(fieldResult).get(field)) == ReadStep::Stop
            || visit(field.key(), field.value()) == ReadStep::Stop)
            return ReadStep::Stop;
    }
    return ReadStep::Continue;
}

ReadStep ExportMapping::readThreadProperties(od::value value, QString& topic, QStringList& members,
                                             qsizetype& memberCount)
{
    return forEachField(value, [&](const od::raw_json_string& key, od::value field) {
        if (key == "topic")
            return readOptionalText(field, m_topicScratch, topic);
        if (key == "members")
            return readMembers(field, members);
        if (key == "membercount")
            return readMemberCount(field, memberCount);
        return ReadStep::Continue;
    });
}

ReadStep ExportMapping::readConversations(od::value value)
{
    od::array conversations;
    if (checkType(value.get_array().get(conversations), "conversations", "a list")
        == ReadStep::Stop)
        return ReadStep::Stop;
    for (auto item : conversations) {
        if (m_dummyConversation) {
            m_dummyConversation = false;
            continue;
        }
        const bool resumed = m_resumedConversation;
        m_resumedConversation = false;
        if (!resumed) {
            ++m_conversation;
            m_message = 0;
        }
        if (m_document->passing() == ReadStep::Stop)
            return ReadStep::Stop;
        od::object conversation;
        if (checkType(std::move(item).get_object().get(conversation), "conversations",
                      "a list of objects")
                == ReadStep::Stop
            || readConversation(conversation, resumed) == ReadStep::Stop
            || m_document->unitRead(ExportUnit::Conversation) == ReadStep::Stop)
            return ReadStep::Stop;
    }
    return ReadStep::Continue;
}

// Reads a conversation into m_open, then into the history; resumed: it is the open one, whose
// reading a window took up again in its messages.
ReadStep ExportMapping::readConversation(od::object& conversation, bool resumed)
{
    if (!resumed)
        m_open = {};
    OpenConversation& open = m_open;
    HistoryChat& chat = open.chat;
    for (auto fieldResult : conversation) {
        od::field field;
        if (check(std::move(fieldResult).get(field)) == ReadStep::Stop)
            return ReadStep::Stop;
        const od::raw_json_string key = field.key();
        ReadStep step = ReadStep::Continue;
        if (key == "id") {
            std::string_view id;
            step = readText(field.value(), m_idScratch, "id", id);
            if (step == ReadStep::Continue) {
                open.id.assign(id);
                open.sawId = !id.empty();
            }
        } else if (key == "displayName") {
            step = readOptionalText(field.value(), m_nameScratch, open.displayName);
        } else if (key == "threadProperties") {
            step = readThreadProperties(field.value(), open.topic, chat.members, chat.memberCount);
        } else if (key == "MessageList") {
            open.sawMessages = true;
            step = readMessages(field.value(), open.messages);
        }
        if (step == ReadStep::Stop)
            return ReadStep::Stop;
    }
    m_message = 0;
    if (!open.sawId)
        return m_document->refuse(m_texts.missingField(place(), "id"));
    if (!open.sawMessages)
        return m_document->refuse(m_texts.missingField(place(), "MessageList"));
    finishConversation();
    return ReadStep::Continue;
}

// Puts the open conversation, read whole, into the history.
void ExportMapping::finishConversation()
{
    HistoryChat& chat = m_open.chat;
    const std::string_view id = m_open.id;
    // As written, a leading byte-order mark included: the kind is told from the same text.
    chat.id = QStringDecoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom)(
        QByteArrayView(id.data(), qsizetype(id.size())));
    chat.kind = kindOf(id);
    if (chat.kind == ConversationKind::OneToOne) {
        chat.peerHandle = chat.id.mid(2);
        if (!m_contactsSeen.contains(chat.peerHandle)) {
            m_contactsSeen.insert(chat.peerHandle);
            m_history.contacts.append(chat.peerHandle);
        }
    }
    chat.name = nameOf(chat, m_open.senderNames, m_open.displayName, m_open.topic);
    if (m_firstSkipped && m_firstSkipped->conversation == m_conversation) {
        m_history.firstSkipped = QStringLiteral("message %1 of conversation \"%2\"")
                                     .arg(m_firstSkipped->message)
                                     .arg(chat.id);
        if (!m_firstSkipped->messageId.isEmpty())
            m_history.firstSkipped +=
                QStringLiteral(" (message id \"%1\")").arg(m_firstSkipped->messageId);
        m_history.firstSkipped += QStringLiteral(", ") + m_firstSkipped->reason;
    }
    chat.messages = m_open.messages.takeInTimeOrder([this] { m_document->stillReading(); });
    m_history.chats.push_back(std::move(chat));
    m_open = {};
}

ReadStep ExportMapping::readMessages(od::value value, MessageBlocks& messages)
{
    od::array list;
    if (checkType(value.get_array().get(list), "MessageList", "a list") == ReadStep::Stop)
        return ReadStep::Stop;
    for (auto item : list) {
        if (m_dummyMessage) {
            m_dummyMessage = false;
            continue;
        }
        if ((++m_message & 255) == 0 && m_document->passing() == ReadStep::Stop)
            return ReadStep::Stop;
        od::object message;
        if (checkType(std::move(item).get_object().get(message), "MessageList", "a list of objects")
            == ReadStep::Stop)
            return ReadStep::Stop;
        HistoryMessage read;
        bool kept = false;
        if (readMessage(message, read, kept) == ReadStep::Stop)
            return ReadStep::Stop;
        if (kept)
            messages.push_back(std::move(read));
        if (m_document->unitRead(ExportUnit::Message) == ReadStep::Stop)
            return ReadStep::Stop;
    }
    return ReadStep::Continue;
}

// Counts a message that is left out; the first one is described in the history.
void ExportMapping::skip(std::string_view idToken, const QString& reason)
{
    ++m_history.skippedMessages;
    if (m_firstSkipped)
        return;
    Skipped skipped{m_conversation, m_message, {}, reason};
    std::string scratch;
    while (!idToken.empty() && std::strchr(" \t\r\n", idToken.back()))
        idToken.remove_suffix(1);
    if (idToken.starts_with('"')) {
        const std::string_view id = unescapeWithReplacement(idToken, scratch);
        skipped.messageId = QString::fromUtf8(id.data(), qsizetype(id.size()));
    } else if (idToken != "null") {
        skipped.messageId = QString::fromUtf8(idToken.data(), qsizetype(idToken.size()));
    }
    m_firstSkipped = std::move(skipped);
}

// Reads one message into result; kept is false when it is left out (it has no possible time,
// or the sieve turns it down).
ReadStep ExportMapping::readMessage(od::object& message, HistoryMessage& result, bool& kept)
{
    kept = false;
    std::string_view displayName, from, type, content, time, idToken;
    ExportMessageFacts facts;
    bool sawTime = false;
    for (auto fieldResult : message) {
        od::field field;
        if (check(std::move(fieldResult).get(field)) == ReadStep::Stop)
            return ReadStep::Stop;
        const od::raw_json_string key = field.key();
        ReadStep step = ReadStep::Continue;
        if (key == "displayName") {
            step = readText(field.value(), m_nameScratch, "displayName", displayName);
        } else if (key == "from") {
            step = readText(field.value(), m_fromScratch, "from", from);
        } else if (key == "messagetype") {
            step = readText(field.value(), m_typeScratch, "messagetype", type);
        } else if (key == "content") {
            step = readText(field.value(), m_contentScratch, "content", content);
        } else if (key == "originalarrivaltime") {
            step = readText(field.value(), m_timeScratch, "originalarrivaltime", time);
            sawTime = true;
        } else if (key == "id") {
            // Kept as written; only a message that is left out shows it.
            idToken = field.value().raw_json_token();
        } else if (key == "properties") {
            step = readMessageProperties(field.value(), facts);
        }
        if (step == ReadStep::Stop)
            return ReadStep::Stop;
    }
    if (!sawTime || time.empty()) {
        skip(idToken, QStringLiteral("which has no time"));
        return ReadStep::Continue;
    }
    if (!parseIsoTimestampMs(time, result.timestampMs)) {
        skip(idToken, QStringLiteral("whose time %1 is no possible date and time")
                          .arg(quotedExcerpt(time, 40)));
        return ReadStep::Continue;
    }
    if (result.timestampMs < FirstPossibleMs || result.timestampMs >= EndOfPossibleMs) {
        skip(idToken, QStringLiteral("whose time %1 is outside the years 1970 to 9999")
                          .arg(quotedExcerpt(time, 40)));
        return ReadStep::Continue;
    }
    if (from.starts_with("8:"))
        from.remove_prefix(2);
    result.senderId = m_ids.intern(from);
    result.senderDisplayName = displayName.empty() ? result.senderId : m_names.intern(displayName);
    m_open.senderNames.note(result.senderId, result.senderDisplayName);
    const bool text = isTextMessageType(type);
    const std::string_view plain = text ? plainText(content, m_plainScratch) : "";
    if (m_sieve && !m_sieve->mayKeep(result, plain))
        return ReadStep::Continue;
    const TextArena::Mark mark = m_bodies->mark();
    if (text)
        result.body = m_bodies->add(plain);
    if (m_sieve && !m_sieve->keeps(result)) {
        // Turned down: its body's room goes to the next message.
        result.body = QString();
        m_bodies->takeBack(mark);
        return ReadStep::Continue;
    }
    if (isFileMessageType(type))
        result.file = sharedFileOf(content, m_xml);
    facts.type = type;
    facts.content = content;
    mapExportMessage(facts, result, *m_bodies, m_markupScratch);
    kept = true;
    return ReadStep::Continue;
}

// What a message's "properties" tell of an edit or a deletion: each time is told when it is a
// text or a number. Anything else tells nothing.
ReadStep ExportMapping::readMessageProperties(od::value value, ExportMessageFacts& facts)
{
    return forEachField(value, [&](const od::raw_json_string& key, od::value time) {
        const bool edit = key == "edittime";
        if (!edit && key != "deletetime")
            return ReadStep::Continue;
        od::json_type type = od::json_type::null;
        if (check(time.type().get(type)) == ReadStep::Stop)
            return ReadStep::Stop;
        std::string_view digits;
        if (type == od::json_type::string) {
            if (readText(time, m_propertyScratch, edit ? "edittime" : "deletetime", digits)
                == ReadStep::Stop)
                return ReadStep::Stop;
        } else if (type == od::json_type::number) {
            digits = time.raw_json_token();
        } else {
            return ReadStep::Continue;
        }
        (edit ? facts.editTold : facts.deleteTold) = true;
        if (edit)
            facts.editedMs = propertyTimeMs(digits);
        return ReadStep::Continue;
    });
}

} // namespace velmoran
