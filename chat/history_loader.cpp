#include "chat/history_loader.h"

#include "chat/archive_open.h"
#include "chat/export_reader.h"
#include "chat/history_file_error.h"
#include "chat/history_text.h"
#include "chat/legacy_db_reader.h"
#include "chat/person_names.h"
#include "core/failure.h"
#include "core/local_time.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <new>

namespace velmoran {

namespace {

// Milliseconds rounded down to the start of their second.
qint64 secondOf(qint64 ms)
{
    return floorDiv(ms, 1000) * 1000;
}

// Whether two messages name one sender. Where both know the sender's id, it decides; a
// source without ids shows the id in place of a missing name, so a name may match an id.
bool sameSender(const HistoryMessage& a, const HistoryMessage& b)
{
    if (!a.senderId.isEmpty() && !b.senderId.isEmpty())
        return a.senderId == b.senderId;
    if (a.senderId.isEmpty() && b.senderId.isEmpty())
        return a.senderDisplayName == b.senderDisplayName;
    const HistoryMessage& known = a.senderId.isEmpty() ? b : a;
    const HistoryMessage& unknown = a.senderId.isEmpty() ? a : b;
    return unknown.senderDisplayName == known.senderId
           || unknown.senderDisplayName == known.senderDisplayName;
}

// One message held by two sources: the same sender, body and second. Sources differ in what
// they hold beyond that (the database keeps whole seconds; the export often lacks the name).
bool sameMessage(const HistoryMessage& a, const HistoryMessage& b)
{
    return secondOf(a.timestampMs) == secondOf(b.timestampMs) && a.body == b.body
           && sameSender(a, b);
}

bool nameIsOnlyTheId(const HistoryMessage& m)
{
    return m.senderDisplayName.isEmpty() || m.senderDisplayName == m.senderId;
}

// Gives the kept copy of a message what only the other copy holds.
void completeFrom(HistoryMessage& kept, const HistoryMessage& other)
{
    if (kept.senderId.isEmpty())
        kept.senderId = other.senderId;
    if (!kept.file)
        kept.file = other.file;
    // What the message is comes with the markup that tells its details.
    if (kept.kind == MessageKind::Text && kept.markup.isNull()
        && (other.kind != MessageKind::Text || !other.markup.isNull())) {
        kept.kind = other.kind;
        kept.markup = other.markup;
    }
    if (nameIsOnlyTheId(kept) && !nameIsOnlyTheId(other))
        kept.senderDisplayName = other.senderDisplayName;
}

struct SourcedMessage {
    const HistoryMessage* message;
    size_t source;
};

// The bit of a source in the set of sources a kept message stands for. Sources beyond the
// 64th share the last bit, which at worst keeps a message of two such sources twice.
quint64 sourceBit(size_t source)
{
    return quint64(1) << std::min<size_t>(source, 63);
}

std::vector<HistoryMessage> mergeMessages(std::vector<SourcedMessage>& all)
{
    std::stable_sort(all.begin(), all.end(), [](const SourcedMessage& a, const SourcedMessage& b) {
        return a.message->timestampMs < b.message->timestampMs;
    });
    std::vector<HistoryMessage> kept;
    // For each kept message, the sources whose copy it stands for: a source's copy matches it
    // at most once, so a message a source holds twice stays twice.
    std::vector<quint64> sourcesOf;
    kept.reserve(all.size());
    sourcesOf.reserve(all.size());
    for (const SourcedMessage& candidate : all) {
        const qint64 second = secondOf(candidate.message->timestampMs);
        const quint64 bit = sourceBit(candidate.source);
        bool duplicate = false;
        // Only messages of the same second can match; they are at the end of what is kept.
        for (size_t k = kept.size(); k-- > 0 && secondOf(kept[k].timestampMs) == second;) {
            if (!(sourcesOf[k] & bit) && sameMessage(kept[k], *candidate.message)) {
                completeFrom(kept[k], *candidate.message);
                sourcesOf[k] |= bit;
                duplicate = true;
                break;
            }
        }
        if (!duplicate) {
            kept.push_back(*candidate.message);
            sourcesOf.push_back(bit);
        }
    }
    kept.shrink_to_fit();
    return kept;
}

// The chats of several sources that are one: one-to-one chats by partner, others by id.
QString chatKey(const HistoryChat& chat)
{
    if (!chat.peerHandle.isEmpty())
        return QStringLiteral("peer ") + chat.peerHandle;
    if (!chat.id.isEmpty())
        return QStringLiteral("id ") + chat.id;
    return {};
}

// Fills what the merged chat lacks from a later source's chat.
void completeFrom(HistoryChat& merged, const HistoryChat& later)
{
    if (merged.id.isEmpty())
        merged.id = later.id;
    if (merged.name.isEmpty() || merged.name == merged.peerHandle || merged.name == merged.id)
        merged.name = later.name.isEmpty() ? merged.name : later.name;
    if (merged.members.isEmpty())
        merged.members = later.members;
    if (merged.memberCount == 0)
        merged.memberCount = later.memberCount;
}

// What a reader left out of a file or repaired in it, for telling the user; "" when nothing.
QString readingNotice(const QString& path, const ChatHistory& history)
{
    QString notUtf8;
    if (history.notUtf8Texts > 0)
        notUtf8 = history.notUtf8Texts == 1
                      ? QStringLiteral("1 text held bytes that are not UTF-8; shown as \uFFFD.")
                      : QStringLiteral("%1 texts held bytes that are not UTF-8; shown as \uFFFD.")
                            .arg(history.notUtf8Texts);
    const QString file = QDir::toNativeSeparators(path);
    // Alone, the note names the file it is about, as several may be read.
    if (history.skippedMessages == 0)
        return notUtf8.isEmpty() ? notUtf8 : QStringLiteral("\"%1\": %2").arg(file, notUtf8);
    QString text =
        history.skippedMessages == 1
            ? QStringLiteral("1 message of \"%1\" could not be read and was left out").arg(file)
            : QStringLiteral("%1 messages of \"%2\" could not be read and were left out")
                  .arg(history.skippedMessages)
                  .arg(file);
    if (!history.firstSkipped.isEmpty())
        text += (history.skippedMessages == 1 ? QStringLiteral(": ")
                                              : QStringLiteral("; the first is "))
                + history.firstSkipped;
    text += QLatin1Char('.');
    return notUtf8.isEmpty() ? text : text + QLatin1Char(' ') + notUtf8;
}

} // namespace

namespace {

bool looksLikeDatabase(QByteArrayView head)
{
    return head.startsWith(QByteArrayView("SQLite format 3\0", 16));
}

// A JSON document: an object after a byte-order mark and white space.
bool looksLikeJson(QByteArrayView head)
{
    qsizetype i =
        qsizetype(byteOrderMarkSize(std::string_view(head.constData(), size_t(head.size()))));
    while (i < head.size()
           && (head[i] == ' ' || head[i] == '\n' || head[i] == '\r' || head[i] == '\t'))
        ++i;
    return i < head.size() && head[i] == '{';
}

ChatHistory readDatabase(const QString& path, const ReadProgress& progress, MessageSieve*)
{
    ChatHistory history = readLegacyDatabase(path, progress);
    if (progress)
        progress(1);
    return history;
}

// The readers of history files, each with the test of a file's first bytes that tells its
// kind, asked in this order. A tar is recognised also when compressed in a way its reader
// refuses to unpack, so that it is told as such.
struct HistoryReader {
    HistoryFileKind kind;
    bool (*recognises)(QByteArrayView head);
    ChatHistory (*read)(const QString& path, const ReadProgress& progress, MessageSieve* sieve);
};
constexpr HistoryReader Readers[] = {
    {HistoryFileKind::LegacyDatabase, looksLikeDatabase, readDatabase},
    {HistoryFileKind::ExportArchive, looksLikeHistoryArchive, readExportArchive},
    {HistoryFileKind::ExportJson, looksLikeJson, readExportJson},
};

const HistoryReader& readerOf(const QString& path)
{
    if (!QFileInfo(path).isFile())
        failToRead(path, QFileInfo::exists(path) ? QStringLiteral("it is no file")
                                                 : QStringLiteral("there is no such file"));
    const QByteArray head = readHistoryFileHead(path, 512);
    if (head.isEmpty())
        failToRead(path, QStringLiteral("the file is empty"));
    for (const HistoryReader& reader : Readers) {
        if (reader.recognises(head))
            return reader;
    }
    failToRead(path, QStringLiteral("it is neither a chat export (.tar or messages.json) nor a "
                                    "legacy chat database (main.db)"));
}

} // namespace

HistoryFileKind sniffHistoryFile(const QString& path)
{
    return readerOf(path).kind;
}

ChatHistory readHistoryFile(const QString& path, const ReadProgress& progress, MessageSieve* sieve)
{
    ChatHistory history = readerOf(path).read(path, progress, sieve);
    history.sourceFiles = QStringList{QFileInfo(path).absoluteFilePath()};
    indexPeople(history);
    return history;
}

ChatHistory mergeHistories(const std::vector<ChatHistoryPtr>& sources)
{
    ChatHistory merged;
    QSet<QString> contactsSeen;
    QHash<QString, size_t> chatOfKey;
    std::vector<std::vector<SourcedMessage>> pending;
    for (size_t source = 0; source < sources.size(); ++source) {
        const ChatHistory& history = *sources[source];
        merged.sourceFiles << history.sourceFiles;
        for (const QString& contact : history.contacts) {
            if (!contactsSeen.contains(contact)) {
                contactsSeen.insert(contact);
                merged.contacts.append(contact);
            }
        }
        merged.skippedMessages += history.skippedMessages;
        merged.notUtf8Texts += history.notUtf8Texts;
        if (merged.ownUserId.isEmpty())
            merged.ownUserId = history.ownUserId;
        // Names beside messages: the first source's stand; the merged messages' latest win.
        for (auto it = history.personNames.cbegin(); it != history.personNames.cend(); ++it) {
            if (!merged.personNames.contains(it.key()))
                merged.personNames.insert(it.key(), it.value());
        }
        if (merged.firstSkipped.isEmpty())
            merged.firstSkipped = history.firstSkipped;
        for (const HistoryChat& chat : history.chats) {
            const QString key = chatKey(chat);
            auto found = key.isEmpty() ? chatOfKey.constEnd() : chatOfKey.constFind(key);
            if (found == chatOfKey.constEnd()) {
                HistoryChat first = chat;
                first.messages = {};
                if (!key.isEmpty())
                    chatOfKey.insert(key, merged.chats.size());
                merged.chats.push_back(std::move(first));
                pending.emplace_back();
                for (const HistoryMessage& message : chat.messages)
                    pending.back().push_back({&message, source});
                continue;
            }
            completeFrom(merged.chats[*found], chat);
            for (const HistoryMessage& message : chat.messages)
                pending[*found].push_back({&message, source});
        }
    }
    for (size_t i = 0; i < merged.chats.size(); ++i)
        merged.chats[i].messages = mergeMessages(pending[i]);
    indexPeople(merged);
    return merged;
}

QStringList discoverHistoryFiles(const QString& downloadFolder, const QString& homeFolder)
{
    QStringList found;
    if (!downloadFolder.isEmpty()) {
        const QFileInfoList exports = QDir(downloadFolder)
                                          .entryInfoList({QStringLiteral("*_export.tar")},
                                                         QDir::Files | QDir::Readable, QDir::Time);
        for (const QFileInfo& file : exports)
            found << file.absoluteFilePath();
    }
    if (!homeFolder.isEmpty()) {
        // The old client kept one profile folder per account, each with its main.db.
        const QFileInfoList profiles =
            QDir(homeFolder + QStringLiteral("/.Skype"))
                .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& profile : profiles) {
            const QFileInfo db(profile.absoluteFilePath() + QStringLiteral("/main.db"));
            if (db.isFile())
                found << db.absoluteFilePath();
        }
    }
    return found;
}

QStringList discoverUserHistoryFiles()
{
    return discoverHistoryFiles(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}

QString historyArgumentHelp()
{
    return QStringLiteral(
        "A chat history: the client's data export (.tar or its messages.json) or its "
        "legacy database (main.db). Several are searched as one history. Without "
        "any, exports in the download folder and legacy databases in the old "
        "profile folder are used.");
}

HistoryLoader::HistoryLoader(QStringList files, Discovery discover)
    : m_named(std::move(files))
    , m_discover(std::move(discover))
{
}

void HistoryLoader::addFile(const QString& path)
{
    m_added << path;
}

QStringList HistoryLoader::files() const
{
    QStringList all = m_named.isEmpty() && m_discover ? m_discover() : m_named;
    all << m_added;
    QStringList unique;
    QSet<QString> seen;
    for (const QString& path : std::as_const(all)) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (!seen.contains(absolute)) {
            seen.insert(absolute);
            unique << absolute;
        }
    }
    return unique;
}

bool HistoryLoader::isCurrent(const QString& path) const
{
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const Entry& e) { return e.path == path; });
    return entry != m_entries.end() && entry->size == size && entry->modified == modified
           && !entry->sieved;
}

const HistoryLoader::Entry&
HistoryLoader::entryFor(const QString& path, const ReadProgress& progress, MessageSieve* sieve)
{
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const Entry& e) { return e.path == path; });
    if (isCurrent(path))
        return *entry;
    if (entry == m_entries.end())
        entry = m_entries.insert(m_entries.end(), Entry{path, -1, {}, nullptr, {}});
    entry->sieved = sieve != nullptr;
    // Drop the old history first, so a changed file is not held twice while it is re-read.
    entry->history.reset();
    // Recorded once read: a read that is stopped leaves the file to be read at the next load.
    entry->size = -1;
    entry->modified = {};
    try {
        entry->history =
            std::make_shared<const ChatHistory>(readHistoryFile(path, progress, sieve));
        entry->failure.clear();
    } catch (const Failure& failure) {
        entry->failure = failure.description();
    } catch (const std::bad_alloc&) {
        entry->failure =
            QStringLiteral(
                "The chat history \"%1\" cannot be read: there is not enough memory for it.")
                .arg(QDir::toNativeSeparators(path));
    }
    entry->size = size;
    entry->modified = modified;
    // Told once per reading of the file, not at every load that reuses it.
    if (entry->history && m_notice) {
        if (const QString notice = readingNotice(path, *entry->history); !notice.isEmpty())
            m_notice(notice);
    }
    return *entry;
}

ChatHistoryPtr HistoryLoader::load()
{
    const QStringList paths = files();
    std::erase_if(m_entries, [&](const Entry& e) { return !paths.contains(e.path); });
    // The files to read and their share of the work, by size.
    qint64 total = 0;
    for (const QString& path : paths) {
        if (!isCurrent(path))
            total += std::max<qint64>(1, QFileInfo(path).size());
    }
    qint64 done = 0;
    ProgressScale scale;
    std::vector<ChatHistoryPtr> readable;
    for (const QString& path : paths) {
        ReadProgress progress;
        const qint64 share = std::max<qint64>(1, QFileInfo(path).size());
        const bool reading = !isCurrent(path);
        if (m_progress && reading) {
            progress = [&, share](double fraction) {
                scale.setPart(double(done), double(share), double(total));
                scale.raise(fraction);
                m_progress(scale.level());
            };
        }
        const Entry& entry = entryFor(path, progress, paths.size() == 1 ? m_sieve : nullptr);
        if (reading)
            done += share;
        if (entry.history)
            readable.push_back(entry.history);
        else if (m_report)
            m_report(entry.failure);
    }
    if (m_progress && total > 0)
        m_progress(1);
    if (readable.size() <= 1) {
        m_mergedFrom.clear();
        m_merged.reset();
        return readable.empty() ? nullptr : readable.front();
    }
    if (readable != m_mergedFrom) {
        m_merged.reset();
        m_merged = std::make_shared<const ChatHistory>(mergeHistories(readable));
        m_mergedFrom = readable;
    }
    return m_merged;
}

} // namespace velmoran
