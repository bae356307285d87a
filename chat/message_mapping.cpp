#include "chat/message_mapping.h"

#include "chat/history_text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace velmoran {

namespace {

// The old database's message types this program describes.
enum LegacyType : int {
    LegacyTopicSet = 2,
    LegacyMembersAdded = 10,
    LegacyMemberRemoved = 12,
    LegacyMemberLeft = 13,
    LegacyCallStarted = 30,
    LegacyCallEnded = 39,
    LegacyEmote = 60,
    LegacyTextPosted = 61,
    LegacyFilesPosted = 68,
};
// The last second of the year 9999: later edit times are no times.
constexpr qint64 LastSecond = 253402300799;

// An edit marker longer than this is not copied; a bare one stands for it.
constexpr size_t LongestEditMarker = 512;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::strchr(" \t\r\n", text.front()))
        text.remove_prefix(1);
    while (!text.empty() && std::strchr(" \t\r\n", text.back()))
        text.remove_suffix(1);
    return text;
}

// Where an element named name starts in markup ("<quote" followed by no further name
// character); npos when it has none.
size_t findElement(std::string_view markup, std::string_view name)
{
    for (size_t at = markup.find('<'); at != std::string_view::npos;
         at = markup.find('<', at + 1)) {
        if (markup.substr(at + 1, name.size()) != name)
            continue;
        const size_t after = at + 1 + name.size();
        if (after >= markup.size() || std::strchr(" \t\r\n/>", markup[after]))
            return at;
    }
    return std::string_view::npos;
}

void appendEscaped(std::string_view text, std::string& out)
{
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
}

// Appends the message's edit marker: one made from the time a reader was told elsewhere, else
// a copy of the opening tag of the markup's own, closed. Answers false when there is none.
bool appendEditMarker(std::string_view markup, qint64 editedMs, std::string& out)
{
    if (editedMs >= 0) {
        out += "<e_m ts_ms=\"" + std::to_string(editedMs) + "\"/>";
        return true;
    }
    const size_t at = findElement(markup, "e_m");
    if (at == std::string_view::npos)
        return false;
    const size_t end = markup.find('>', at);
    if (end == std::string_view::npos || end - at > LongestEditMarker) {
        out += "<e_m/>";
        return true;
    }
    const std::string_view tag = markup.substr(at, end - at + 1);
    out += tag;
    if (!tag.ends_with("/>"))
        out += "</e_m>";
    return true;
}

// Appends markup without its <legacyquote> elements: the plain-text copy of a quote's head
// and tail that the quote's attributes and the body already hold. An element left open is
// kept as written.
void appendWithoutLegacyQuotes(std::string_view markup, std::string& out)
{
    constexpr std::string_view close = "</legacyquote>";
    size_t from = 0;
    for (;;) {
        const size_t found = findElement(markup.substr(from), "legacyquote");
        if (found == std::string_view::npos)
            break;
        const size_t at = from + found;
        const size_t end = markup.find(close, at);
        if (end == std::string_view::npos)
            break;
        out += markup.substr(from, at - from);
        from = end + close.size();
    }
    out += markup.substr(from);
}

// The markup kept for a written message (text, file or event with a body): the whole of it
// when it quotes, else only its edit marker; nothing when neither.
void keepTextMarkup(std::string_view markup, bool edited, qint64 editedMs, HistoryMessage& message,
                    TextArena& arena, std::string& scratch)
{
    scratch.clear();
    if (findElement(markup, "quote") != std::string_view::npos) {
        appendWithoutLegacyQuotes(markup, scratch);
        // The markup's own marker, if any, is in the copy already.
        if (editedMs >= 0 && findElement(markup, "e_m") == std::string_view::npos)
            appendEditMarker({}, editedMs, scratch);
    } else if (!edited || !appendEditMarker(markup, editedMs, scratch)) {
        if (edited)
            scratch = "<e_m/>";
    }
    if (!scratch.empty())
        message.markup = arena.add(scratch);
}

MessageKind exportKind(std::string_view type)
{
    if (type == "Event/Call")
        return MessageKind::Call;
    if (type == "ThreadActivity/AddMember")
        return MessageKind::MembersAdded;
    if (type == "ThreadActivity/DeleteMember")
        return MessageKind::MembersRemoved;
    if (type == "ThreadActivity/TopicUpdate")
        return MessageKind::TopicChanged;
    if (type == "RichText/UriObject")
        return MessageKind::Picture;
    if (type.starts_with("RichText/Media_"))
        return MessageKind::File;
    if (type == "Text" || type == "RichText" || type.starts_with("RichText/"))
        return MessageKind::Text;
    return MessageKind::Other;
}

// The event markup the export writes for members added or removed, from the database's
// columns.
void appendMembersEvent(const char* element, std::string_view initiator, std::string_view targets,
                        std::string& out)
{
    out += '<';
    out += element;
    out += "><initiator>";
    appendEscaped(initiator, out);
    out += "</initiator>";
    size_t at = 0;
    while (at < targets.size()) {
        const size_t end = std::min(targets.find_first_of(" \t\r\n,", at), targets.size());
        if (end > at) {
            out += "<target>";
            appendEscaped(targets.substr(at, end - at), out);
            out += "</target>";
        }
        at = end + 1;
    }
    out += "</";
    out += element;
    out += '>';
}

} // namespace

QString objectIdOfUri(QStringView uri)
{
    const qsizetype query = uri.indexOf(QLatin1Char('?'));
    if (query >= 0)
        uri = uri.left(query);
    const qsizetype fragment = uri.indexOf(QLatin1Char('#'));
    if (fragment >= 0)
        uri = uri.left(fragment);
    while (uri.endsWith(QLatin1Char('/')))
        uri.chop(1);
    return uri.mid(uri.lastIndexOf(QLatin1Char('/')) + 1).toString();
}

std::shared_ptr<const SharedFile> sharedFileOf(std::string_view content, QXmlStreamReader& xml)
{
    const size_t start = content.find("<URIObject");
    if (start == std::string_view::npos)
        return nullptr;
    content.remove_prefix(start);
    xml.clear();
    xml.setNamespaceProcessing(false);
    xml.addData(QByteArray::fromRawData(content.data(), qsizetype(content.size())));
    SharedFile file;
    bool sawObject = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"URIObject" && !sawObject) {
            sawObject = true;
            file.objectId = objectIdOfUri(xml.attributes().value(QLatin1String("uri")));
        } else if (name == u"OriginalName") {
            file.fileName = xml.attributes().value(QLatin1String("v")).toString();
        } else if (name == u"FileSize") {
            bool ok = false;
            const qint64 size =
                xml.attributes().value(QLatin1String("v")).trimmed().toLongLong(&ok);
            if (ok && size >= 0)
                file.size = size;
        }
    }
    if (!sawObject)
        return nullptr;
    return std::make_shared<const SharedFile>(std::move(file));
}

void mapExportMessage(const ExportMessageFacts& facts, HistoryMessage& message, TextArena& arena,
                      std::string& scratch)
{
    message.kind = exportKind(facts.type);
    const std::string_view content = trimmed(facts.content);
    switch (message.kind) {
    case MessageKind::Call:
    case MessageKind::MembersAdded:
    case MessageKind::MembersRemoved:
    case MessageKind::TopicChanged:
        if (!content.empty())
            message.markup = arena.add(content);
        return;
    case MessageKind::Text:
    case MessageKind::File:
    case MessageKind::Picture:
        // A message taken back keeps its place with no content, its time in its properties.
        if (content.empty() && (facts.deleteTold || facts.editTold)) {
            message.kind = MessageKind::Deleted;
            return;
        }
        break;
    case MessageKind::Deleted:
    case MessageKind::Other:
        break;
    }
    const bool edited = facts.editTold || findElement(content, "e_m") != std::string_view::npos;
    keepTextMarkup(content, edited, facts.editedMs, message, arena, scratch);
}

void mapLegacyMessage(const LegacyMessageFacts& facts, HistoryMessage& message, TextArena& arena,
                      std::string& scratch)
{
    const std::string_view body = trimmed(facts.body);
    scratch.clear();
    switch (facts.type) {
    case LegacyTopicSet:
        message.kind = MessageKind::TopicChanged;
        scratch = "<topicupdate><initiator>";
        appendEscaped(facts.author, scratch);
        scratch += "</initiator><value>";
        scratch += body;
        scratch += "</value></topicupdate>";
        break;
    case LegacyMembersAdded:
        message.kind = MessageKind::MembersAdded;
        appendMembersEvent("addmember", facts.author, facts.identities, scratch);
        break;
    case LegacyMemberRemoved:
        message.kind = MessageKind::MembersRemoved;
        appendMembersEvent("deletemember", facts.author, facts.identities, scratch);
        break;
    case LegacyMemberLeft:
        message.kind = MessageKind::MembersRemoved;
        appendMembersEvent("deletemember", facts.author, facts.author, scratch);
        break;
    case LegacyCallStarted:
    case LegacyCallEnded:
        message.kind = MessageKind::Call;
        if (findElement(body, "partlist") != std::string_view::npos)
            scratch = body;
        else
            scratch = facts.type == LegacyCallStarted ? "<partlist type=\"started\"/>"
                                                      : "<partlist type=\"ended\"/>";
        break;
    default:
        break;
    }
    if (!scratch.empty()) {
        message.markup = arena.add(scratch);
        return;
    }
    // Shared files: the markup names them, and this reader keeps no file of its own.
    if (body.starts_with("<URIObject") || body.starts_with("<files")
        || (facts.type == LegacyFilesPosted && !body.empty())) {
        const std::string_view tag = body.substr(0, body.find('>'));
        message.kind =
            body.starts_with("<URIObject") && tag.find("type=\"Picture") != std::string_view::npos
                ? MessageKind::Picture
                : MessageKind::File;
        message.markup = arena.add(body);
        return;
    }
    if (facts.editedSeconds > 0 && body.empty()) {
        message.kind = MessageKind::Deleted;
        return;
    }
    message.kind = body.empty() && facts.type >= 0 && facts.type != LegacyTextPosted
                           && facts.type != LegacyEmote
                       ? MessageKind::Other
                       : MessageKind::Text;
    const bool edited =
        facts.editedSeconds > 0 || findElement(body, "e_m") != std::string_view::npos;
    const qint64 editedMs = facts.editedSeconds > 0 && facts.editedSeconds <= LastSecond
                                ? facts.editedSeconds * 1000
                                : -1;
    keepTextMarkup(body, edited, editedMs, message, arena, scratch);
}

} // namespace velmoran
