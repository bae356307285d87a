#include "chat/export_reader.h"

#include "chat/archive_member.h"
#include "chat/export_mapping.h"
#include "chat/export_progress.h"
#include "chat/export_windows.h"
#include "chat/history_file_error.h"
#include "chat/history_text.h"
#include "chat/json_text.h"
#include "chat/mapped_file.h"

#include <QFile>

#include <simdjson.h>

#include <cerrno>
#include <optional>

namespace velmoran {

namespace {

namespace od = simdjson::ondemand;

// The share of a compressed tar's progress that its unpacking takes; the parse takes the rest.
constexpr double UnpackingShare = 0.5;

// Reads an export's JSON into a history: in windows (ExportWindows), and what no window can
// settle (a flaw in the JSON, text after the document) once more as one document, which tells
// it exactly. Bytes that are no UTF-8 are made U+FFFD before the document is read again.
class ExportParser final : private ExportDocument {
public:
    // subject names the JSON in failure texts: "it" for a file of its own, "its
    // messages.json" for the member of a tar. watch, when set, is told the part of the
    // document read, placed on scale. sieve, when set, is asked which messages to keep.
    ExportParser(QString fileName, QString subject, ExportProgress::Watch watch = {},
                 ProgressScale scale = ProgressScale(), MessageSieve* sieve = nullptr)
        : m_fileName(std::move(fileName))
        , m_mapping(std::move(subject), sieve)
        , m_progress(std::move(watch), scale)
    {
    }

    // A document parsed in place from mapping: the pages of what has been read are released
    // as the parse goes on, so the file and the history it becomes are not held at once.
    void releaseReadPagesOf(MappedFile* mapping) { m_progress.releaseReadPagesOf(mapping); }

    // The size of the windows the document is read in; 0: the document is read as one.
    void setWindowSize(size_t bytes) { m_firstWindow = bytes; }

    // Parses json; capacity is how many bytes from json.data() on may be read, at least
    // SIMDJSON_PADDING more than the document. Answers no history when the watch answered Stop.
    std::optional<ChatHistory> parse(std::string_view json, size_t capacity)
    {
        std::optional<ChatHistory> history = parseDocument(json, capacity);
        if (history)
            history->notUtf8Texts = m_notUtf8Texts;
        return history;
    }

    // The same for a parse without a watch, which always ends in a history or a failure.
    ChatHistory parse(const simdjson::padded_string& json)
    {
        return *parse(std::string_view(json.data(), json.size()),
                      json.size() + simdjson::SIMDJSON_PADDING);
    }

private:
    std::optional<ChatHistory> parseDocument(std::string_view json, size_t capacity)
    {
        if (m_firstWindow == 0)
            return parseWhole(json, capacity);
        using Outcome = ExportWindows::Outcome;
        Outcome outcome = readInWindows(json, true);
        if (outcome == Outcome::NotUtf8) {
            // Bytes that are no UTF-8 become U+FFFD; the rest of the history is still worth
            // reading.
            const std::string_view repaired = repair(json);
            if (m_progress.stopped())
                return std::nullopt;
            m_mapping.startOver();
            outcome = readInWindows(repaired, false);
        }
        if (outcome == Outcome::Read)
            return m_mapping.takeHistory();
        if (outcome == Outcome::Stopped)
            return std::nullopt;
        m_mapping.startOver();
        return parseWhole(json, capacity);
    }

    ExportWindows::Outcome readInWindows(std::string_view json, bool inMapping)
    {
        ExportWindows windows(m_mapping, m_progress, m_parser, m_fileName, m_firstWindow);
        return windows.read(json, inMapping);
    }

    // json with every sequence of bytes that are no UTF-8 made U+FFFD, in m_repaired; the
    // strings that held any are counted, once each, whatever windows the document is read in.
    std::string_view repair(std::string_view json)
    {
        m_repaired = withUtf8Repaired(json, [this] { stillReading(); });
        m_notUtf8Texts = stringsNotUtf8(json, [this] { stillReading(); });
        return std::string_view(m_repaired.data(), m_repaired.size());
    }

    // Reads json as one document.
    std::optional<ChatHistory> parseWhole(std::string_view json, size_t capacity)
    {
        // A byte order mark is no JSON, but some tools write one.
        size_t bom = byteOrderMarkSize(json);
        std::string_view all = json;
        od::document doc;
        simdjson::error_code error =
            m_parser.iterate(all.data() + bom, all.size() - bom, capacity - bom).get(doc);
        if (error == simdjson::UTF8_ERROR) {
            all = repair(json);
            if (m_progress.stopped())
                return std::nullopt;
            // The repair drops a byte order mark.
            bom = byteOrderMarkSize(all);
            error = m_parser
                        .iterate(all.data() + bom, all.size() - bom,
                                 all.size() - bom + simdjson::SIMDJSON_PADDING)
                        .get(doc);
        }
        m_doc = &doc;
        m_all = all;
        m_bom = bom;
        m_progress.startDocument(all.data(), all.data() == json.data());
        if (error == simdjson::INCOMPLETE_ARRAY_OR_OBJECT)
            explainIncomplete();
        if (error)
            fail(m_mapping.texts().jsonError(error));
        if (m_mapping.read(m_parser, doc, *this) == ReadStep::Stop)
            return std::nullopt;
        if (!m_mapping.sawConversations())
            fail(m_mapping.texts().noConversations());
        const char* trailing = nullptr;
        if (doc.current_location().get(trailing) == simdjson::SUCCESS)
            fail(m_mapping.texts().trailingText(all, size_t(trailing - all.data())));
        m_doc = nullptr;
        if (m_progress.report(1) == ReadStep::Stop)
            return std::nullopt;
        return m_mapping.takeHistory();
    }

    // The parser refuses a document whose last token is not the bracket that closes it before
    // reading any of it. When everything up to the last closing bracket is a whole history,
    // the rest is stray text after it, and the failure says so; otherwise nothing is said here.
    void explainIncomplete() const
    {
        const size_t close = m_all.find_last_of("}]");
        if (close == std::string_view::npos || close < m_bom)
            return;
        const size_t at = m_all.find_first_not_of(" \t\r\n", close + 1);
        if (at == std::string_view::npos)
            return;
        try {
            ExportParser(m_fileName, m_mapping.texts().subject())
                .parse(simdjson::padded_string(m_all.substr(0, close + 1)));
        } catch (const Failure&) {
            return;
        }
        fail(m_mapping.texts().trailingText(m_all, at));
    }

    // Read whole, every flaw is the file's, and fails.
    ReadStep flaw(simdjson::error_code error) override { fail(m_mapping.texts().jsonError(error)); }

    ReadStep flawAtTop(simdjson::error_code error) override
    {
        if (error == simdjson::INCOMPLETE_ARRAY_OR_OBJECT)
            explainIncomplete();
        return flaw(error);
    }

    ReadStep refuse(const QString& reason) override { fail(reason); }

    [[noreturn]] void fail(const QString& reason) const { failToRead(m_fileName, reason); }

    // Tells how far the document has been read, by the position of the parser in it, and lets
    // the mapping drop what lies well behind that position.
    ReadStep passing() override
    {
        const char* at = nullptr;
        if (m_progress.stopped())
            return ReadStep::Stop;
        if ((!m_progress.tells() && !m_progress.releasesPages()) || !m_doc || m_all.empty()
            || m_doc->current_location().get(at) != simdjson::SUCCESS || at < m_all.data())
            return ReadStep::Continue;
        const size_t offset = size_t(at - m_all.data());
        m_progress.releasePagesBefore(offset);
        return m_progress.report(double(offset) / double(m_all.size()));
    }

    ReadStep unitRead(ExportUnit) override { return ReadStep::Continue; }
    void stillReading() override { m_progress.stillReading(); }

    QString m_fileName;
    ExportMapping m_mapping;
    ExportProgress m_progress;
    od::parser m_parser;
    // Large enough that a window costs little beyond its bytes, small enough that its reading
    // stays in the processor's cache and takes a few milliseconds.
    size_t m_firstWindow = size_t(1) << 20;
    simdjson::padded_string m_repaired;
    qsizetype m_notUtf8Texts = 0;
    // The document read whole, while it is read.
    od::document* m_doc = nullptr;
    std::string_view m_all;
    size_t m_bom = 0;
};

// A watch that tells progress and always reads on; none without progress.
ExportProgress::Watch watchOf(const ReadProgress& progress)
{
    if (!progress)
        return {};
    return [&progress](double done) {
        progress(done);
        return ReadStep::Continue;
    };
}

[[noreturn]] void failChanged(const QString& path, const MappedFile& map)
{
    // A page the disk could not read is lost as one cut off the file is.
    if (map.readFailed())
        failToRead(path, readErrorText(EIO, {}));
    failToRead(path, map.truncated() ? QStringLiteral("it became shorter while it was read")
                                     : QStringLiteral("it changed while it was read"));
}

// Parses size bytes at offset of a mapped file in place. A file that is cut short or changed
// meanwhile is refused, whatever the parse made of it; one cut short ends the parse.
ChatHistory parseMapped(const QString& path, MappedFile& map, qint64 offset, size_t size,
                        QString subject, const ReadProgress& progress, MessageSieve* sieve)
{
    ExportProgress::Watch watch = [&](double done) {
        if (map.truncated())
            return ReadStep::Stop;
        if (progress)
            progress(done);
        return ReadStep::Continue;
    };
    std::optional<ChatHistory> history;
    try {
        ExportParser parser(path, std::move(subject), std::move(watch), ProgressScale(), sieve);
        parser.releaseReadPagesOf(&map);
        history = parser.parse(std::string_view(map.data() + offset, size),
                               map.capacity() - size_t(offset));
    } catch (const Failure&) {
        if (map.changed())
            failChanged(path, map);
        throw;
    }
    if (!history || map.changed())
        failChanged(path, map);
    return std::move(*history);
}

} // namespace

ChatHistory parseExportJson(QByteArrayView json, const QString& fileName)
{
    const simdjson::padded_string padded(json.data(), size_t(json.size()));
    return ExportParser(fileName, QStringLiteral("it")).parse(padded);
}

ChatHistory parseExportJsonInWindows(QByteArrayView json, const QString& fileName,
                                     size_t windowBytes, MessageSieve* sieve)
{
    const simdjson::padded_string padded(json.data(), size_t(json.size()));
    ExportParser parser(fileName, QStringLiteral("it"), {}, ProgressScale(), sieve);
    parser.setWindowSize(windowBytes);
    return parser.parse(padded);
}

ChatHistory readExportJson(const QString& path, const ReadProgress& progress, MessageSieve* sieve)
{
    {
        MappedFile map(path);
        if (map.valid())
            return parseMapped(path, map, 0, map.size(), QStringLiteral("it"), progress, sieve);
    }
    // Not a regular file, or one that cannot be mapped: read it into memory.
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        failToRead(path, readErrorText(errno, file.errorString()));
    const qint64 size = file.size();
    if (size < 0 || quint64(size) > simdjson::SIMDJSON_MAXSIZE_BYTES)
        failToRead(path, QStringLiteral("it is larger than the 4 GiB that can be read"));
    simdjson::padded_string json{size_t(size)};
    if (size > 0 && json.data() == nullptr)
        failToRead(path, QStringLiteral("there is not enough memory to read it"));
    qint64 done = 0;
    while (done < size) {
        errno = 0;
        const qint64 got = file.read(json.data() + done, size - done);
        if (got < 0)
            failToRead(path, readErrorText(errno, file.errorString()));
        if (got == 0)
            failToRead(path, QStringLiteral("it became shorter while it was read"));
        done += got;
    }
    return ExportParser(path, QStringLiteral("it"), watchOf(progress), ProgressScale(), sieve)
        .parse(json);
}

ChatHistory readExportArchive(const QString& path, const ReadProgress& progress,
                              MessageSieve* sieve)
{
    const QString subject = QStringLiteral("its messages.json");
    const ProgressScale unpacking(0, UnpackingShare);
    auto parseUnpacked = [&](const ExportArchiveMember& member) {
        return ExportParser(path, subject, watchOf(progress), ProgressScale(UnpackingShare, 1),
                            sieve)
            .parse(member.json);
    };
    {
        MappedFile map(path);
        if (map.valid()) {
            const ExportArchiveMember member =
                readExportArchiveMember(path, true, progress, unpacking);
            if (!member.inPlace)
                return parseUnpacked(member);
            if (memberFitsMapping(map, member.offset, member.size))
                return parseMapped(path, map, member.offset, member.size, subject, progress, sieve);
        }
    }
    return parseUnpacked(readExportArchiveMember(path, false, progress, unpacking));
}

} // namespace velmoran
