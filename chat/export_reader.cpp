#include "chat/export_reader.h"

#include "chat/history_file_error.h"
#include "chat/history_text.h"

#include <QFile>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

namespace velmoran {

namespace {

namespace od = simdjson::ondemand;

bool readDigits(std::string_view text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool isTextMessageType(std::string_view type)
{
    return type == "Text" || type == "RichText" || type.starts_with("RichText/");
}

QString describeJsonError(simdjson::error_code error)
{
    switch (error) {
    case simdjson::EMPTY:
        return QStringLiteral("it holds no JSON at all");
    case simdjson::UTF8_ERROR:
        return QStringLiteral("it holds text that is not valid UTF-8");
    case simdjson::DEPTH_ERROR:
        return QStringLiteral("it is nested too deeply");
    case simdjson::CAPACITY:
        return QStringLiteral("it is larger than the 4 GiB that can be read");
    case simdjson::MEMALLOC:
        return QStringLiteral("there is not enough memory to read it");
    default:
        return QStringLiteral("it is not valid JSON (%1)")
            .arg(QString::fromUtf8(simdjson::error_message(error)));
    }
}

class ExportParser {
public:
    explicit ExportParser(QString fileName)
        : m_fileName(std::move(fileName))
    {
    }

    ChatHistory parse(const simdjson::padded_string& json)
    {
        // A byte order mark is no JSON, but some tools write one.
        const size_t bom = std::string_view(json.data(), json.size()).starts_with("\xef\xbb\xbf") ? 3 : 0;
        od::document doc;
        check(m_parser.iterate(json.data() + bom, json.size() - bom, json.size() - bom + simdjson::SIMDJSON_PADDING).get(doc));
        od::object top;
        const simdjson::error_code topError = doc.get_object().get(top);
        if (topError == simdjson::INCORRECT_TYPE)
            fail(QStringLiteral("messages.json is not a JSON object"));
        check(topError);
        bool sawConversations = false;
        for (auto fieldResult : top) {
            od::field field;
            check(std::move(fieldResult).get(field));
            if (field.key() == "conversations") {
                sawConversations = true;
                readConversations(field.value());
            }
        }
        if (!sawConversations)
            fail(QStringLiteral("messages.json has no \"conversations\" list, so it is no chat export"));
        const char* trailing = nullptr;
        if (doc.current_location().get(trailing) == simdjson::SUCCESS)
            fail(QStringLiteral("messages.json goes on after its end"));
        return std::move(m_history);
    }

private:
    [[noreturn]] void fail(const QString& reason) const { failToRead(m_fileName, reason); }

    QString where() const
    {
        QString place = QStringLiteral("conversation %1").arg(m_conversation);
        if (m_message > 0)
            place += QStringLiteral(", message %1").arg(m_message);
        return place;
    }

    void check(simdjson::error_code error) const
    {
        if (error)
            fail(QStringLiteral("messages.json: %1").arg(describeJsonError(error)));
    }

    void checkType(simdjson::error_code error, const char* key, const char* expected) const
    {
        if (error == simdjson::INCORRECT_TYPE)
            fail(QStringLiteral("messages.json, %1: \"%2\" is not %3")
                     .arg(where(), QLatin1String(key), QLatin1String(expected)));
        check(error);
    }

    // Reads a string or null value into scratch (which must stay untouched while the answer
    // is used). Null answers an empty view. Strings are unescaped into our own buffer rather
    // than the parser's, which would otherwise keep a copy of every string of the file.
    std::string_view readText(od::value value, std::string& scratch, const char* key)
    {
        od::json_type type;
        check(value.type().get(type));
        if (type == od::json_type::null)
            return {};
        if (type != od::json_type::string)
            checkType(simdjson::INCORRECT_TYPE, key, "a text or null");
        const std::string_view token = value.raw_json_token();
        if (scratch.size() < token.size() + simdjson::SIMDJSON_PADDING)
            scratch.resize(token.size() + simdjson::SIMDJSON_PADDING);
        od::raw_json_string raw;
        check(value.get_raw_json_string().get(raw));
        auto* out = reinterpret_cast<uint8_t*>(scratch.data());
        std::string_view text;
        check(m_parser.unescape(raw, out).get(text));
        return text;
    }

    void readConversations(od::value value)
    {
        od::array conversations;
        checkType(value.get_array().get(conversations), "conversations", "a list");
        for (auto item : conversations) {
            ++m_conversation;
            m_message = 0;
            od::object conversation;
            checkType(std::move(item).get_object().get(conversation), "conversations", "a list of objects");
            readConversation(conversation);
        }
    }

    void readConversation(od::object& conversation)
    {
        HistoryChat chat;
        bool sawId = false, sawMessages = false;
        std::string_view id;
        for (auto fieldResult : conversation) {
            od::field field;
            check(std::move(fieldResult).get(field));
            const od::raw_json_string key = field.key();
            if (key == "id") {
                id = readText(field.value(), m_idScratch, "id");
                sawId = !id.empty();
            } else if (key == "MessageList") {
                sawMessages = true;
                readMessages(field.value(), chat.messages);
            }
        }
        m_message = 0;
        if (!sawId)
            fail(QStringLiteral("messages.json, %1 has no \"id\"").arg(where()));
        if (!sawMessages)
            fail(QStringLiteral("messages.json, %1 has no \"MessageList\"").arg(where()));
        if (id.starts_with("8:")) {
            chat.peerHandle = QString::fromUtf8(id.data() + 2, qsizetype(id.size() - 2));
            if (!m_contactsSeen.contains(chat.peerHandle)) {
                m_contactsSeen.insert(chat.peerHandle);
                m_history.contacts.append(chat.peerHandle);
            }
        }
        auto byTime = [](const HistoryMessage& a, const HistoryMessage& b) {
            return a.timestampMs < b.timestampMs;
        };
        if (!std::is_sorted(chat.messages.begin(), chat.messages.end(), byTime))
            std::stable_sort(chat.messages.begin(), chat.messages.end(), byTime);
        chat.messages.shrink_to_fit();
        m_history.chats.push_back(std::move(chat));
    }

    void readMessages(od::value value, std::vector<HistoryMessage>& messages)
    {
        od::array list;
        checkType(value.get_array().get(list), "MessageList", "a list");
        for (auto item : list) {
            ++m_message;
            od::object message;
            checkType(std::move(item).get_object().get(message), "MessageList", "a list of objects");
            messages.push_back(readMessage(message));
        }
    }

    HistoryMessage readMessage(od::object& message)
    {
        std::string_view displayName, from, type, content, time;
        bool sawTime = false;
        for (auto fieldResult : message) {
            od::field field;
            check(std::move(fieldResult).get(field));
            const od::raw_json_string key = field.key();
            if (key == "displayName") {
                displayName = readText(field.value(), m_nameScratch, "displayName");
            } else if (key == "from") {
                from = readText(field.value(), m_fromScratch, "from");
            } else if (key == "messagetype") {
                type = readText(field.value(), m_typeScratch, "messagetype");
            } else if (key == "content") {
                content = readText(field.value(), m_contentScratch, "content");
            } else if (key == "originalarrivaltime") {
                time = readText(field.value(), m_timeScratch, "originalarrivaltime");
                sawTime = true;
            }
        }
        HistoryMessage result;
        if (!sawTime)
            fail(QStringLiteral("messages.json, %1 has no \"originalarrivaltime\"").arg(where()));
        if (!parseIsoTimestampMs(time, result.timestampMs))
            fail(QStringLiteral("messages.json, %1: \"%2\" is no date and time")
                     .arg(where(), QString::fromUtf8(time.data(), qsizetype(std::min<size_t>(time.size(), 40)))));
        if (displayName.empty()) {
            displayName = from;
            if (displayName.starts_with("8:"))
                displayName.remove_prefix(2);
        }
        result.senderDisplayName = m_names.intern(displayName);
        if (isTextMessageType(type))
            result.body = plainBody(content, m_plainScratch);
        return result;
    }

    QString m_fileName;
    od::parser m_parser;
    ChatHistory m_history;
    QSet<QString> m_contactsSeen;
    NamePool m_names;
    qsizetype m_conversation = 0;
    qsizetype m_message = 0;
    std::string m_idScratch, m_nameScratch, m_fromScratch, m_typeScratch, m_contentScratch,
        m_timeScratch, m_plainScratch;
};

// Opens a tar (possibly compressed) and reads its messages.json into one padded buffer.
simdjson::padded_string readArchiveMember(const QString& path)
{
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(), archive_read_free);
    if (!reader)
        failToRead(path, QStringLiteral("there is not enough memory to open it"));
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    auto archiveFailure = [&](const QString& what) {
        const char* detail = archive_error_string(reader.get());
        failToRead(path, detail ? QStringLiteral("%1 (%2)").arg(what, QString::fromLocal8Bit(detail)) : what);
    };
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), 1 << 20) != ARCHIVE_OK)
        archiveFailure(QStringLiteral("it is no tar archive"));
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            archiveFailure(QStringLiteral("it is no tar archive or it is damaged"));
        std::string_view name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
        if (name.starts_with("./"))
            name.remove_prefix(2);
        if (name != "messages.json")
            continue;
        if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
            failToRead(path, QStringLiteral("the size of its messages.json is not recorded"));
        const auto size = size_t(archive_entry_size(entry));
        if (size > simdjson::SIMDJSON_MAXSIZE_BYTES)
            failToRead(path, QStringLiteral("its messages.json is larger than the 4 GiB that can be read"));
        simdjson::padded_string json(size);
        if (size > 0 && json.data() == nullptr)
            failToRead(path, QStringLiteral("there is not enough memory to read its messages.json"));
        size_t done = 0;
        while (done < size) {
            const la_ssize_t got = archive_read_data(reader.get(), json.data() + done, size - done);
            if (got < 0)
                archiveFailure(QStringLiteral("its messages.json cannot be unpacked"));
            if (got == 0)
                failToRead(path, QStringLiteral("it ends in the middle of its messages.json"));
            done += size_t(got);
        }
        return json;
    }
    failToRead(path, QStringLiteral("it holds no messages.json, so it is no chat export"));
}

} // namespace

bool parseIsoTimestampMs(std::string_view text, qint64& ms)
{
    int year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !readDigits(text, 5, 2, month)
        || text[7] != '-' || !readDigits(text, 8, 2, day) || (text[10] != 'T' && text[10] != ' ')
        || !readDigits(text, 11, 2, hour) || text[13] != ':' || !readDigits(text, 14, 2, minute)
        || text[16] != ':' || !readDigits(text, 17, 2, second))
        return false;
    if (hour > 23 || minute > 59 || second > 60)
        return false;
    size_t i = 19;
    int millis = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (digits < 3)
                millis = millis * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0)
            return false;
        for (int d = digits; d < 3; ++d)
            millis *= 10;
    }
    int offsetMinutes = 0;
    if (i < text.size() && text[i] == 'Z') {
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        const int sign = text[i] == '+' ? 1 : -1;
        int offsetHours, offsetMins;
        if (!readDigits(text, i + 1, 2, offsetHours) || i + 3 >= text.size() || text[i + 3] != ':'
            || !readDigits(text, i + 4, 2, offsetMins) || offsetHours > 23 || offsetMins > 59)
            return false;
        offsetMinutes = sign * (offsetHours * 60 + offsetMins);
        i += 6;
    } else {
        return false;
    }
    if (i != text.size())
        return false;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                              std::chrono::day(unsigned(day))};
    if (!date.ok())
        return false;
    const qint64 days = sys_days(date).time_since_epoch().count();
    ms = ((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + millis
         - offsetMinutes * 60000LL;
    return true;
}

ChatHistory parseExportJson(QByteArrayView json, const QString& fileName)
{
    const simdjson::padded_string padded(json.data(), size_t(json.size()));
    return ExportParser(fileName).parse(padded);
}

ChatHistory readExportJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        failToRead(path, file.errorString());
    const qint64 size = file.size();
    if (size < 0 || quint64(size) > simdjson::SIMDJSON_MAXSIZE_BYTES)
        failToRead(path, QStringLiteral("it is larger than the 4 GiB that can be read"));
    simdjson::padded_string json{size_t(size)};
    if (size > 0 && json.data() == nullptr)
        failToRead(path, QStringLiteral("there is not enough memory to read it"));
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(json.data() + done, size - done);
        if (got < 0)
            failToRead(path, file.errorString());
        if (got == 0)
            failToRead(path, QStringLiteral("it became shorter while it was read"));
        done += got;
    }
    return ExportParser(path).parse(json);
}

ChatHistory readExportArchive(const QString& path)
{
    const simdjson::padded_string json = readArchiveMember(path);
    return ExportParser(path).parse(json);
}

} // namespace velmoran
