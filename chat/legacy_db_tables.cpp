#include "chat/legacy_db_tables.h"

#include "chat/history_file_error.h"
#include "chat/history_text.h"
#include "chat/message_mapping.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <numeric>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace velmoran {

void CloseDatabase::operator()(sqlite3* db) const
{
    sqlite3_close_v2(db);
}

namespace {

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// SQLite's page cache during a read (its heap is bounded by the caller).
constexpr int cacheKiB = 32 << 10;
// Virtual machine steps between calls of the progress handler.
constexpr int progressSteps = 10000;
// Unix seconds of 1970-01-01 and of the last second of 9999.
constexpr qint64 firstSecond = 0;
constexpr qint64 lastSecond = 253402300799;
// The share of a read's progress taken by the check of the pages; the messages take the rest.
constexpr double pageCheckShare = 0.3;

std::string_view columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, size_t(sqlite3_column_bytes(statement, column)))
                : std::string_view();
}

QString columnString(sqlite3_stmt* statement, int column)
{
    const std::string_view text = columnText(statement, column);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// An identity as the export writes conversation and member ids: plain handles get "8:",
// identities that already name their network ("28:bot", "19:…@thread.skype", "#…") stay.
QString exportId(const QString& identity)
{
    if (identity.startsWith(QLatin1Char('#')))
        return identity;
    const qsizetype colon = identity.indexOf(QLatin1Char(':'));
    if (colon > 0) {
        bool digits = true;
        for (qsizetype i = 0; i < colon && digits; ++i)
            digits = identity[i].isDigit();
        if (digits)
            return identity;
    }
    return QStringLiteral("8:") + identity;
}

quint32 bigEndian(const QByteArray& bytes, qsizetype at, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

// A column list of the columns a table has; missing ones read as NULL.
QByteArray selectable(const QSet<QString>& columns, std::initializer_list<const char*> wanted)
{
    QByteArray list;
    for (const char* column : wanted) {
        if (!list.isEmpty())
            list += ", ";
        list += columns.contains(QLatin1String(column)) ? QByteArray(column) : QByteArray("NULL");
    }
    return list;
}

// Reads one opened database. pathForUser names the file in failures; file is what is opened.
class DatabaseReader {
public:
    DatabaseReader(const QString& pathForUser, const LegacyReadProgress& progress)
        : m_path(pathForUser)
        , m_progress(progress)
    {
    }

    ChatHistory read(const QString& file, bool inPlace)
    {
        open(file, inPlace);
        // The first read rolls back a hot journal or reads the WAL.
        run("SELECT count(*) FROM sqlite_master");
        if (!inPlace && pragmaText("PRAGMA journal_mode") == QLatin1String("wal"))
            run("PRAGMA wal_checkpoint(TRUNCATE)");
        checkSize();
        checkPages();
        m_done = m_messagesRead.level();
        requireTables();
        readContactNames();
        readAccount();
        readConversations();
        readParticipants();
        nameGroups();
        readMessages();
        return std::move(m_history);
    }

private:
    [[noreturn]] void fail(const QString& reason) const { failToRead(m_path, reason); }

    [[noreturn]] void failFromDatabase() const
    {
        if (m_stop)
            std::rethrow_exception(m_stop);
        const int code = sqlite3_errcode(m_db.get());
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db.get()));
        if (code == SQLITE_NOTADB)
            fail(QStringLiteral("it is no SQLite database"));
        if (code == SQLITE_CORRUPT) {
            checkSize(); // the likeliest damage, told plainly
            fail(QStringLiteral("the database is damaged (%1)").arg(message));
        }
        if (code == SQLITE_NOMEM)
            fail(QStringLiteral("reading it needs more memory than is allowed (%1)").arg(message));
        fail(QStringLiteral("the database answers \"%1\"").arg(message));
    }

    static int onProgress(void* self)
    {
        auto* reader = static_cast<DatabaseReader*>(self);
        if (!reader->m_progress)
            return 0;
        try {
            reader->m_progress(reader->m_done);
        } catch (...) {
            // Exceptions must not cross SQLite's C frames: keep it, interrupt, throw it later.
            reader->m_stop = std::current_exception();
            return 1;
        }
        return 0;
    }

    void open(const QString& file, bool inPlace)
    {
        m_file = file;
        sqlite3* db = nullptr;
        int status;
        if (inPlace) {
            // immutable=1: SQLite takes no locks, never writes and creates no file beside it.
            const QByteArray uri = QUrl::fromLocalFile(file).toEncoded() + "?mode=ro&immutable=1";
            status = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                     nullptr);
        } else {
            // A private copy: SQLite may roll back and check point in it.
            status = sqlite3_open_v2(QFile::encodeName(file).constData(), &db,
                                     SQLITE_OPEN_READWRITE, nullptr);
        }
        m_db.reset(db);
        if (!db)
            fail(QStringLiteral("there is not enough memory to open it"));
        if (status != SQLITE_OK)
            failFromDatabase();
        // A hostile schema gets no functions with side effects and cannot change itself.
        sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_progress_handler(db, progressSteps, &DatabaseReader::onProgress, this);
        // Temporary data stays in the bounded heap: no temporary files anywhere.
        run("PRAGMA temp_store = MEMORY");
        run(QByteArray("PRAGMA cache_size = -").append(QByteArray::number(cacheKiB)).constData());
    }

    Statement prepare(const char* sql) const
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
            failFromDatabase();
        return Statement(statement);
    }

    // The smallest and largest rowid of a table, {0, 0} when it is empty or has no rowids.
    // Asked one at a time: each is then a look at one end of the table's tree.
    std::pair<qint64, qint64> rowidRange(const char* table) const
    {
        qint64 ends[2] = {0, 0};
        for (int end = 0; end < 2; ++end) {
            const QByteArray sql =
                QByteArray(end == 0 ? "SELECT min(rowid) FROM " : "SELECT max(rowid) FROM ")
                + table;
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v2(m_db.get(), sql.constData(), -1, &raw, nullptr) != SQLITE_OK)
                return {0, 0};
            const Statement statement(raw);
            if (!next(raw) || sqlite3_column_type(raw, 0) != SQLITE_INTEGER)
                return {0, 0};
            ends[end] = sqlite3_column_int64(raw, 0);
        }
        return {ends[0], ends[1]};
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

    void run(const char* sql) const
    {
        const Statement statement = prepare(sql);
        while (next(statement.get())) {
        }
    }

    // A text of the history (a name, an id, a body) in a column of the row. One that holds
    // bytes that are no UTF-8 is counted: they show as U+FFFD.
    std::string_view historyText(sqlite3_stmt* row, int column)
    {
        const std::string_view text = columnText(row, column);
        if (!QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8())
            ++m_history.notUtf8Texts;
        return text;
    }

    QString historyString(sqlite3_stmt* row, int column)
    {
        const std::string_view text = historyText(row, column);
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }

    QString pragmaText(const char* sql) const
    {
        const Statement statement = prepare(sql);
        return next(statement.get()) ? columnString(statement.get(), 0).toLower() : QString();
    }

    // A file shorter than its header's page count × page size was cut short.
    void checkSize() const
    {
        const LegacyDbHeader header = readLegacyDbHeader(m_file);
        const qint64 size = QFileInfo(m_file).size();
        if (header.sqlite && header.pageCount > 0 && header.pageCount * header.pageSize > size)
            fail(QStringLiteral(
                     "the database is damaged: the file is cut short (%1 of its %2 bytes)")
                     .arg(size)
                     .arg(header.pageCount * header.pageSize));
    }

    // SQLite's quick check of every table but Messages, one table at a time: a check runs
    // without a call of the progress handler, and Messages, by far the largest, is read from
    // end to end anyway, which finds damage of its pages as well.
    void checkPages() const
    {
        std::vector<QByteArray> tables;
        {
            const Statement statement =
                prepare("SELECT name FROM sqlite_master WHERE type = 'table'"
                        " AND lower(name) <> 'messages' AND sql NOT LIKE 'CREATE VIRTUAL%'");
            while (next(statement.get())) {
                const std::string_view name = columnText(statement.get(), 0);
                tables.emplace_back(name.data(), qsizetype(name.size()));
            }
        }
        for (QByteArray name : tables) {
            const QByteArray sql = "PRAGMA quick_check('" + name.replace('\'', "''") + "')";
            const Statement statement = prepare(sql.constData());
            const QString answer =
                next(statement.get()) ? columnString(statement.get(), 0) : QString();
            if (answer != QLatin1String("ok"))
                fail(QStringLiteral("the database is damaged (%1)").arg(answer.left(200)));
        }
    }

    // The kind of a schema object ("table", "view", …, "virtual table"), "" when none.
    QString kindOf(const char* name) const
    {
        Statement statement =
            prepare("SELECT type, sql FROM sqlite_master WHERE lower(name) = lower(?1)"
                    " AND type IN ('table', 'view', 'index', 'trigger')");
        sqlite3_bind_text(statement.get(), 1, name, -1, SQLITE_STATIC);
        if (!next(statement.get()))
            return {};
        const QString type = columnString(statement.get(), 0);
        if (type == QLatin1String("table")
            && columnString(statement.get(), 1)
                   .simplified()
                   .startsWith(QLatin1String("CREATE VIRTUAL"), Qt::CaseInsensitive))
            return QStringLiteral("virtual table");
        return type;
    }

    QSet<QString> columnsOf(const char* table) const
    {
        const Statement statement = prepare(QByteArray("SELECT name FROM pragma_table_info('")
                                                .append(table)
                                                .append("')")
                                                .constData());
        QSet<QString> columns;
        while (next(statement.get()))
            columns.insert(columnString(statement.get(), 0).toLower());
        return columns;
    }

    void requireTables()
    {
        struct Need {
            const char* table;
            std::initializer_list<const char*> columns;
            QSet<QString>* found;
        };
        const Need needs[] = {
            {"Contacts", {"skypename"}, &m_contactColumns},
            {"Conversations", {"id", "identity", "type"}, &m_conversationColumns},
            {"Messages",
             {"id", "convo_id", "timestamp", "author", "from_dispname", "body_xml"},
             &m_messageColumns},
        };
        for (const Need& need : needs) {
            const QString kind = kindOf(need.table);
            const QLatin1String table(need.table);
            if (kind.isEmpty())
                fail(QStringLiteral("it has no %1 table, so it is no chat database").arg(table));
            // A view or virtual table runs code of the file's making on every read.
            if (kind != QLatin1String("table"))
                fail(QStringLiteral("its %1 is a %2, not a table, so it is no chat database")
                         .arg(table, kind));
            const QSet<QString> columns = columnsOf(need.table);
            for (const char* column : need.columns) {
                if (!columns.contains(QLatin1String(column)))
                    fail(QStringLiteral("its %1 table has no %2 column")
                             .arg(table, QLatin1String(column)));
            }
            if (need.found)
                *need.found = columns;
        }
    }

    // The name people see for each handle, the first one given in table order.
    void readContactNames()
    {
        const QByteArray sql =
            "SELECT skypename, "
            + selectable(m_contactColumns, {"given_displayname", "displayname", "fullname"})
            + " FROM Contacts";
        const Statement statement = prepare(sql.constData());
        sqlite3_stmt* row = statement.get();
        while (next(row)) {
            const QString handle = historyString(row, 0);
            if (handle.isEmpty() || m_contactNames.contains(handle))
                continue;
            for (int column = 1; column <= 3; ++column) {
                const QString name = historyString(row, column);
                if (!name.isEmpty()) {
                    m_contactNames.insert(handle, name);
                    break;
                }
            }
        }
    }

    QString nameOf(const QString& handle) const { return m_contactNames.value(handle, handle); }

    void readConversations()
    {
        const QByteArray sql =
            "SELECT id, identity, type, "
            + selectable(m_conversationColumns, {"meta_topic", "given_displayname", "displayname"})
            + " FROM Conversations ORDER BY id";
        const Statement statement = prepare(sql.constData());
        sqlite3_stmt* row = statement.get();
        QHash<QString, size_t> chatOfPartner;
        QSet<QString> contactsSeen;
        while (next(row)) {
            const qint64 conversation = sqlite3_column_int64(row, 0);
            const QString identity = historyString(row, 1);
            const int type = sqlite3_column_int(row, 2);
            QString title;
            for (int column = 3; column <= 5 && title.isEmpty(); ++column)
                title = historyString(row, column);
            constexpr int dialog = 1, group = 2;
            m_conversationIdentity.emplace(conversation, identity);
            HistoryChat chat;
            chat.id = exportId(identity);
            if (identity.startsWith(QLatin1String("28:"))) {
                chat.kind = ConversationKind::Bot;
                chat.name = title.isEmpty() ? nameOf(identity) : title;
            } else if (type == dialog && !identity.isEmpty()) {
                const auto found = chatOfPartner.constFind(identity);
                if (found != chatOfPartner.constEnd()) {
                    m_chatOfConversation.emplace(conversation, *found);
                    continue; // another conversation with the same partner: one chat
                }
                chat.kind = ConversationKind::OneToOne;
                chat.peerHandle = identity;
                chat.name = m_contactNames.value(identity, title.isEmpty() ? identity : title);
                chatOfPartner.insert(identity, m_history.chats.size());
                if (!contactsSeen.contains(identity)) {
                    contactsSeen.insert(identity);
                    m_history.contacts.append(identity);
                }
            } else {
                chat.kind = type == group ? ConversationKind::Group : ConversationKind::Other;
                chat.name = title;
            }
            m_chatOfConversation.emplace(conversation, m_history.chats.size());
            m_history.chats.push_back(std::move(chat));
            m_sortKeys.emplace_back();
        }
    }

    // Members of group chats, where the database lists them. Participants is optional: when it
    // is missing, not a plain table or lacks the columns, chats have no members.
    void readParticipants()
    {
        if (kindOf("Participants") != QLatin1String("table"))
            return;
        const QSet<QString> columns = columnsOf("Participants");
        if (!columns.contains(QStringLiteral("convo_id"))
            || !columns.contains(QStringLiteral("identity")))
            return;
        const Statement statement = prepare("SELECT convo_id, identity FROM Participants");
        sqlite3_stmt* row = statement.get();
        while (next(row)) {
            const auto found = m_chatOfConversation.find(sqlite3_column_int64(row, 0));
            const QString identity = historyString(row, 1);
            if (found == m_chatOfConversation.end() || identity.isEmpty())
                continue;
            QStringList& members = m_history.chats[found->second].members;
            const QString id = exportId(identity);
            if (!members.contains(id))
                members.append(id);
        }
    }

    // The account's own user and its name, which stands for them where their messages give
    // none, as the contacts' names stand for theirs.
    void readAccount()
    {
        m_history.personNames = m_contactNames;
        if (kindOf("Accounts") != QLatin1String("table"))
            return;
        const QSet<QString> columns = columnsOf("Accounts");
        if (!columns.contains(QStringLiteral("skypename")))
            return;
        const QByteArray sql =
            "SELECT skypename, " + selectable(columns, {"fullname"}) + " FROM Accounts";
        const Statement statement = prepare(sql.constData());
        if (!next(statement.get()))
            return;
        m_history.ownUserId = columnString(statement.get(), 0);
        const QString name = columnString(statement.get(), 1);
        if (!m_history.ownUserId.isEmpty() && !name.isEmpty())
            m_history.personNames.insert(m_history.ownUserId, name);
    }

    void nameGroups()
    {
        // The account's own handle is left out of the names of untitled groups.
        const QString& own = m_history.ownUserId;
        for (HistoryChat& chat : m_history.chats) {
            if (!chat.name.isEmpty())
                continue;
            QStringList names;
            for (const QString& member : std::as_const(chat.members)) {
                const QString handle =
                    member.startsWith(QLatin1String("8:")) ? member.mid(2) : member;
                if (handle != own)
                    names << nameOf(handle);
            }
            chat.name = names.isEmpty() ? chat.id : names.join(QLatin1String(", "));
        }
    }

    void skip(qint64 conversation, qint64 message)
    {
        if (m_history.skippedMessages++ == 0)
            m_history.firstSkipped = QStringLiteral("conversation %1, message %2")
                                         .arg(exportId(m_conversationIdentity[conversation]))
                                         .arg(message);
    }

    // Messages in table order, so SQLite needs no sorting space; each chat is put in time
    // order afterwards.
    void readMessages()
    {
        // The table is read in rowid order: the rowid tells how far the read has come (a table
        // without rowids is read without telling).
        const auto [firstRow, lastRow] = rowidRange("Messages");
        const bool tellsProgress = lastRow > firstRow;
        // Columns 6 to 8 tell what the message is (NULL where the table lacks them).
        const QByteArray sql =
            "SELECT convo_id, id, timestamp, from_dispname, author, body_xml, "
            + selectable(m_messageColumns, {"type", "edited_timestamp", "identities"})
            + (tellsProgress ? ", rowid FROM Messages" : " FROM Messages");
        const Statement statement = prepare(sql.constData());
        sqlite3_stmt* row = statement.get();
        qint64 currentConversation = 0;
        std::optional<size_t> chatIndex;
        bool started = false;
        while (next(row)) {
            if (tellsProgress) {
                m_messagesRead.raise(double(sqlite3_column_int64(row, 9) - firstRow)
                                     / double(lastRow - firstRow));
                m_done = m_messagesRead.level();
            }
            const qint64 conversation = sqlite3_column_int64(row, 0);
            if (!started || conversation != currentConversation) {
                started = true;
                currentConversation = conversation;
                const auto found = m_chatOfConversation.find(conversation);
                chatIndex = found == m_chatOfConversation.end() ? std::nullopt
                                                                : std::optional(found->second);
            }
            if (!chatIndex)
                continue; // a message of no known conversation belongs to no chat
            const qint64 id = sqlite3_column_int64(row, 1);
            const qint64 seconds = sqlite3_column_int64(row, 2);
            if (sqlite3_column_type(row, 2) != SQLITE_INTEGER || seconds < firstSecond
                || seconds > lastSecond) {
                skip(conversation, id);
                continue;
            }
            HistoryMessage message;
            message.timestampMs = seconds * 1000;
            std::string_view author = historyText(row, 4);
            std::string_view sender = historyText(row, 3);
            if (sender.empty())
                sender = author;
            message.senderDisplayName = m_names.intern(sender);
            if (author.starts_with("8:"))
                author.remove_prefix(2);
            message.senderId = m_names.intern(author);
            const std::string_view body = historyText(row, 5);
            message.body = plainBody(body, m_scratch, m_bodies);
            LegacyMessageFacts facts;
            facts.type = sqlite3_column_type(row, 6) == SQLITE_INTEGER
                             ? int(std::clamp<qint64>(sqlite3_column_int64(row, 6), -1, 1 << 20))
                             : -1;
            facts.body = body;
            facts.author = author;
            facts.identities = columnText(row, 8);
            if (sqlite3_column_type(row, 7) == SQLITE_INTEGER)
                facts.editedSeconds = std::max<qint64>(0, sqlite3_column_int64(row, 7));
            mapLegacyMessage(facts, message, m_bodies, m_markupScratch);
            m_history.chats[*chatIndex].messages.push_back(std::move(message));
            m_sortKeys[*chatIndex].push_back(id);
        }
        for (size_t c = 0; c < m_history.chats.size(); ++c) {
            putInTimeOrder(m_history.chats[c].messages, m_sortKeys[c]);
            // Outside SQLite's frames: a stop may be thrown straight through.
            if (m_progress)
                m_progress(m_done);
        }
    }

    static void putInTimeOrder(std::vector<HistoryMessage>& messages,
                               const std::vector<qint64>& ids)
    {
        auto before = [&](size_t a, size_t b) {
            return messages[a].timestampMs != messages[b].timestampMs
                       ? messages[a].timestampMs < messages[b].timestampMs
                       : ids[a] < ids[b];
        };
        std::vector<size_t> order(messages.size());
        std::iota(order.begin(), order.end(), size_t(0));
        if (!std::is_sorted(order.begin(), order.end(), before)) {
            std::sort(order.begin(), order.end(), before);
            std::vector<HistoryMessage> sorted;
            sorted.reserve(messages.size());
            for (size_t i : order)
                sorted.push_back(std::move(messages[i]));
            messages = std::move(sorted);
        }
        messages.shrink_to_fit();
    }

    QString m_path;
    QString m_file;
    const LegacyReadProgress& m_progress;
    double m_done = 0;
    // The messages' part, from the end of the check of the pages on.
    ProgressScale m_messagesRead{pageCheckShare, 1};
    std::exception_ptr m_stop;
    Database m_db;
    QSet<QString> m_contactColumns, m_conversationColumns;
    QSet<QString> m_messageColumns;
    QHash<QString, QString> m_contactNames;
    ChatHistory m_history;
    std::unordered_map<qint64, size_t> m_chatOfConversation;
    std::unordered_map<qint64, QString> m_conversationIdentity;
    std::vector<std::vector<qint64>> m_sortKeys;
    NamePool m_names;
    TextArena m_bodies;
    std::string m_scratch;
    std::string m_markupScratch;
};

} // namespace

LegacyDbHeader legacyDbHeaderOf(const QByteArray& bytes)
{
    LegacyDbHeader header;
    if (bytes.size() < 100 || !bytes.startsWith(QByteArrayView("SQLite format 3\0", 16)))
        return header;
    header.sqlite = true;
    // Read and write format versions: 2 is WAL.
    header.walMode = bytes[18] == 2 || bytes[19] == 2;
    const quint32 pageSize = bigEndian(bytes, 16, 2);
    header.pageSize = pageSize == 1 ? 65536 : pageSize;
    // The page count is valid while the change counter equals "version valid for".
    if (bigEndian(bytes, 24, 4) == bigEndian(bytes, 92, 4))
        header.pageCount = bigEndian(bytes, 28, 4);
    return header;
}

LegacyDbHeader readLegacyDbHeader(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? legacyDbHeaderOf(file.read(100)) : LegacyDbHeader();
}

ChatHistory readLegacyDbTables(const QString& pathForUser, const QString& file, bool inPlace,
                               const LegacyReadProgress& progress)
{
    return DatabaseReader(pathForUser, progress).read(file, inPlace);
}

} // namespace velmoran
