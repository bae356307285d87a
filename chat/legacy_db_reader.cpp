#include "chat/legacy_db_reader.h"

#include "chat/history_file_error.h"
#include "chat/history_text.h"

#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace velmoran {

namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

std::string_view columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, size_t(sqlite3_column_bytes(statement, column))) : std::string_view();
}

class LegacyReader {
public:
    explicit LegacyReader(QString path)
        : m_path(std::move(path))
    {
    }

    ChatHistory read()
    {
        open();
        requireTables();
        readContacts();
        readConversations();
        readMessages();
        for (HistoryChat& chat : m_history.chats)
            chat.messages.shrink_to_fit();
        return std::move(m_history);
    }

private:
    [[noreturn]] void fail(const QString& reason) const { failToRead(m_path, reason); }

    [[noreturn]] void failFromDatabase() const
    {
        const int code = sqlite3_errcode(m_db.get());
        if (code == SQLITE_NOTADB)
            fail(QStringLiteral("it is no SQLite database"));
        if (code == SQLITE_CORRUPT)
            fail(QStringLiteral("the database is damaged (%1)").arg(QString::fromUtf8(sqlite3_errmsg(m_db.get()))));
        fail(QStringLiteral("the database answers \"%1\"").arg(QString::fromUtf8(sqlite3_errmsg(m_db.get()))));
    }

    void open()
    {
        // immutable=1: SQLite takes no locks and never writes, so a database in use by the old
        // client can be read as it is on disk.
        if (!QFileInfo(m_path).isFile())
            fail(QStringLiteral("there is no such file"));
        const QByteArray uri = QUrl::fromLocalFile(m_path).toEncoded() + "?mode=ro&immutable=1";
        sqlite3* db = nullptr;
        const int status = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        m_db.reset(db);
        if (status != SQLITE_OK) {
            if (!db)
                fail(QStringLiteral("there is not enough memory to open it"));
            failFromDatabase();
        }
    }

    Statement prepare(const char* sql) const
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
            failFromDatabase();
        return Statement(statement);
    }

    // Steps to the next row; false at the end.
    bool next(sqlite3_stmt* statement) const
    {
        const int status = sqlite3_step(statement);
        if (status == SQLITE_ROW)
            return true;
        if (status != SQLITE_DONE)
            failFromDatabase();
        return false;
    }

    QSet<QString> columnsOf(const char* table) const
    {
        const Statement statement = prepare(
            QByteArray("SELECT name FROM pragma_table_info('").append(table).append("')").constData());
        QSet<QString> columns;
        while (next(statement.get()))
            columns.insert(QString::fromUtf8(columnText(statement.get(), 0)).toLower());
        return columns;
    }

    void requireTables()
    {
        struct Need {
            const char* table;
            std::initializer_list<const char*> columns;
        };
        const Need needs[] = {
            {"Contacts", {"skypename"}},
            {"Conversations", {"id", "identity", "type"}},
            {"Messages", {"id", "convo_id", "timestamp", "author", "from_dispname", "body_xml"}},
        };
        for (const Need& need : needs) {
            const QSet<QString> columns = columnsOf(need.table);
            if (columns.isEmpty())
                fail(QStringLiteral("it has no %1 table, so it is no chat database").arg(QLatin1String(need.table)));
            for (const char* column : need.columns) {
                if (!columns.contains(QLatin1String(column)))
                    fail(QStringLiteral("its %1 table has no %2 column")
                             .arg(QLatin1String(need.table), QLatin1String(column)));
            }
            if (std::string_view(need.table) == "Contacts")
                m_contactsKnowBuddies = columns.contains(QStringLiteral("is_permanent"));
        }
    }

    void readContacts()
    {
        const Statement statement = prepare(
            m_contactsKnowBuddies
                ? "SELECT skypename FROM Contacts WHERE is_permanent = 1 ORDER BY rowid"
                : "SELECT skypename FROM Contacts ORDER BY rowid");
        QSet<QString> seen;
        while (next(statement.get())) {
            const QString handle = QString::fromUtf8(columnText(statement.get(), 0));
            if (!handle.isEmpty() && !seen.contains(handle)) {
                seen.insert(handle);
                m_history.contacts.append(handle);
            }
        }
    }

    void readConversations()
    {
        const Statement statement = prepare("SELECT id, identity, type FROM Conversations ORDER BY id");
        while (next(statement.get())) {
            HistoryChat chat;
            constexpr int dialog = 1;
            if (sqlite3_column_int(statement.get(), 2) == dialog)
                chat.peerHandle = QString::fromUtf8(columnText(statement.get(), 1));
            m_chatOfConversation.emplace(sqlite3_column_int64(statement.get(), 0), m_history.chats.size());
            m_history.chats.push_back(std::move(chat));
        }
    }

    void readMessages()
    {
        const Statement statement = prepare(
            "SELECT convo_id, timestamp, from_dispname, author, body_xml FROM Messages"
            " ORDER BY convo_id, timestamp, id");
        sqlite3_stmt* row = statement.get();
        qint64 currentConversation = 0;
        std::vector<HistoryMessage>* messages = nullptr;
        while (next(row)) {
            const qint64 conversation = sqlite3_column_int64(row, 0);
            if (!messages || conversation != currentConversation) {
                currentConversation = conversation;
                const auto found = m_chatOfConversation.find(conversation);
                messages = found == m_chatOfConversation.end() ? nullptr : &m_history.chats[found->second].messages;
                if (!messages)
                    continue; // a message of no known conversation belongs to no chat
            }
            HistoryMessage message;
            const qint64 seconds = sqlite3_column_int64(row, 1);
            constexpr qint64 limit = std::numeric_limits<qint64>::max() / 1000;
            message.timestampMs = std::clamp(seconds, -limit, limit) * 1000;
            std::string_view sender = columnText(row, 2);
            if (sender.empty())
                sender = columnText(row, 3);
            message.senderDisplayName = m_names.intern(sender);
            message.body = plainBody(columnText(row, 4), m_scratch);
            messages->push_back(std::move(message));
        }
    }

    QString m_path;
    Database m_db;
    bool m_contactsKnowBuddies = false;
    ChatHistory m_history;
    std::unordered_map<qint64, size_t> m_chatOfConversation;
    NamePool m_names;
    std::string m_scratch;
};

} // namespace

ChatHistory readLegacyDatabase(const QString& path)
{
    return LegacyReader(path).read();
}

} // namespace velmoran
