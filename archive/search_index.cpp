#include "archive/search_index.h"

#include "archive/html_text.h"
#include "archive/search_script.h"
#include "core/failure.h"

#include <QDir>
#include <QRandomGenerator>

#include <algorithm>
#include <numeric>

namespace velmoran {

namespace {

// Messages to a block file, and the characters of a message's text a block keeps: enough to
// show a snippet and to check a query word the words alone cannot settle.
constexpr qint32 MessagesPerBlock = 256;
constexpr qsizetype KeptText = 300;
// A word file ends past this many bytes; a word's numbers longer than a piece go to pieces.
constexpr qsizetype WordFileBytes = 256 * 1024;
constexpr qsizetype PieceBytes = 512 * 1024;

// Numbers in base 32, the high digits first: a digit from the second half of Digits is
// followed by more, one from the first half ends the number. None needs escaping in a string.
const char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendNumber(QByteArray& out, quint32 value)
{
    char digits[8];
    int n = 0;
    digits[n++] = Digits[value & 31];
    for (value >>= 5; value; value >>= 5)
        digits[n++] = Digits[32 + (value & 31)];
    while (n)
        out += digits[--n];
}

bool continues(char digit)
{
    return !((digit >= 'A' && digit <= 'Z') || (digit >= 'a' && digit <= 'f'));
}

bool isSpaceless(char32_t c)
{
    if (c < 0x0E00)
        return false;
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Thai:
        return true;
    default:
        return false;
    }
}

bool isWordCharacter(char32_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

char32_t lowered(char32_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? c + 32 : c;
    c = QChar::toLower(c);
    return c == 0x3C2 ? 0x3C3 : c; // final sigma, which a browser writes where a word ends
}

void appendCharacter(QString& out, char32_t c)
{
    if (QChar::requiresSurrogates(c)) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
    } else {
        out += QChar(char16_t(c));
    }
}

void appendInteger(QString& out, qint64 value)
{
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    quint64 rest = negative ? quint64(-value) : quint64(value);
    do {
        digits[n++] = char('0' + rest % 10);
        rest /= 10;
    } while (rest);
    if (negative)
        out += u'-';
    while (n)
        out += QLatin1Char(digits[--n]);
}

void appendJsList(QString& out, const QStringList& texts)
{
    out += u'[';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i)
            out += u',';
        appendJsText(out, texts[i]);
    }
    out += u']';
}

} // namespace

void forEachSearchTerm(QStringView text, const std::function<void(QStringView)>& term)
{
    QString word;
    std::vector<char32_t> run; // a spaceless run's characters
    QString piece;
    auto endWord = [&] {
        if (!word.isEmpty())
            term(word);
        word.truncate(0);
        for (size_t i = 0; i < run.size(); ++i) {
            piece.truncate(0);
            appendCharacter(piece, run[i]);
            term(piece);
            if (i + 1 < run.size()) {
                appendCharacter(piece, run[i + 1]);
                term(piece);
            }
        }
        run.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (!isWordCharacter(c)) {
            endWord();
        } else if (isSpaceless(c)) {
            if (!word.isEmpty())
                endWord();
            run.push_back(c);
        } else {
            if (!run.empty())
                endWord();
            appendCharacter(word, lowered(c));
        }
    }
    endWord();
}

SearchIndex::SearchIndex(const QString& folder)
    : m_folder(folder + QStringLiteral("/search/"))
{
    if (!QDir().mkdir(m_folder))
        throw Failure(QStringLiteral("The folder \"%1\" cannot be made.")
                          .arg(QDir::toNativeSeparators(m_folder)));
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    for (const quint32 r : random)
        m_nonce += QStringLiteral("%1").arg(r, 8, 16, QLatin1Char('0'));
}

void SearchIndex::beginConversation(const QString& folder, const QString& name)
{
    m_conversations.push_back({folder, name, m_messages});
}

void SearchIndex::add(qint32 index, const QString& page, qint64 timeMs, const QString& sender,
                      QStringView text)
{
    const qint32 message = m_messages++;
    Conversation& conversation = m_conversations.back();
    ++conversation.count;
    conversation.lastMs = timeMs;
    forEachSearchTerm(text, [&](QStringView term) { addTerm(term, message); });
    appendMessage(index, page, timeMs, sender, text);
}

void SearchIndex::addTerm(QStringView term, qint32 message)
{
    // FNV-1a over the UTF-16 code units.
    quint32 hash = 2166136261u;
    for (const QChar c : term)
        hash = (hash ^ c.unicode()) * 16777619u;
    size_t mask = m_slots.size() - 1;
    size_t slot = hash & mask;
    for (; m_slots[slot] >= 0; slot = (slot + 1) & mask) {
        const QString& text = m_terms[size_t(m_slots[slot])].text;
        if (text.size() == term.size() && std::equal(term.begin(), term.end(), text.constBegin()))
            break;
    }
    if (m_slots[slot] < 0) {
        m_slots[slot] = qint32(m_terms.size());
        m_terms.push_back({term.toString(), {}, -1, hash});
        if (m_terms.size() * 2 > m_slots.size()) {
            // Twice the room; every term to its new place.
            m_slots.assign(m_slots.size() * 2, -1);
            mask = m_slots.size() - 1;
            for (size_t id = 0; id < m_terms.size(); ++id) {
                size_t at = m_terms[id].hash & mask;
                while (m_slots[at] >= 0)
                    at = (at + 1) & mask;
                m_slots[at] = qint32(id);
            }
            return addTerm(term, message);
        }
    }
    Term& entry = m_terms[size_t(m_slots[slot])];
    if (entry.last == message)
        return;
    appendNumber(entry.numbers, quint32(message - entry.last));
    entry.last = message;
}

void SearchIndex::appendMessage(qint32 index, const QString& page, qint64 timeMs,
                                const QString& sender, QStringView text)
{
    // Pages and senders are told once a block; each message names them by place.
    if (m_blockPages.isEmpty() || m_lastPage != page
        || m_lastPageConversation != m_conversations.size()) {
        m_blockPages << m_conversations.back().folder + u'/' + page;
        m_lastPage = page;
        m_lastPageConversation = m_conversations.size();
    }
    auto senderId = m_senderIds.constFind(sender);
    if (senderId == m_senderIds.constEnd()) {
        senderId = m_senderIds.insert(sender, int(m_blockSenders.size()));
        m_blockSenders << sender;
    }
    if (m_blockMessages)
        m_block += u',';
    // Anchor and minute as steps from the block's message before.
    const qint64 minute = timeMs / 60000 - (timeMs % 60000 < 0 ? 1 : 0);
    appendInteger(m_block, m_blockPages.size() - 1);
    m_block += u',';
    appendInteger(m_block, qint64(index) - m_lastIndex);
    m_block += u',';
    appendInteger(m_block, minute - m_lastMinute);
    m_block += u',';
    m_lastIndex = index;
    m_lastMinute = minute;
    // A negative sender: the text is cut.
    appendInteger(m_block, text.size() > KeptText ? -1 - *senderId : *senderId);
    m_block += u',';
    qsizetype kept = std::min(text.size(), KeptText);
    if (kept < text.size() && text[kept - 1].isHighSurrogate())
        --kept;
    appendJsText(m_block, text.left(kept));
    if (++m_blockMessages == MessagesPerBlock)
        writeBlock();
}

void SearchIndex::writeBlock()
{
    if (m_blockMessages == 0)
        return;
    ++m_blocks;
    QString out = QStringLiteral("velmoranSearch.messages(");
    appendInteger(out, m_blocks);
    out += u',';
    appendJsList(out, m_blockPages);
    out += u',';
    appendJsList(out, m_blockSenders);
    out += QLatin1StringView(",[");
    out += m_block;
    out += QLatin1StringView("]);\n");
    writeFile(QStringLiteral("m%1.js").arg(m_blocks), out);
    m_block.truncate(0);
    m_blockPages.clear();
    m_blockSenders.clear();
    m_senderIds.clear();
    m_blockMessages = 0;
    m_lastIndex = 0;
    m_lastMinute = 0;
}

QStringList SearchIndex::writeWords()
{
    std::vector<qint32> order(m_terms.size());
    std::iota(order.begin(), order.end(), 0);
    // UTF-16 order, as JavaScript compares strings.
    std::sort(order.begin(), order.end(), [&](qint32 a, qint32 b) {
        const QString& x = m_terms[size_t(a)].text;
        const QString& y = m_terms[size_t(b)].text;
        return std::lexicographical_compare(x.utf16(), x.utf16() + x.size(), y.utf16(),
                                            y.utf16() + y.size());
    });
    QStringList firstWords;
    QString out;
    auto endFile = [&] {
        out += QLatin1StringView("]);\n");
        writeFile(QStringLiteral("w%1.js").arg(firstWords.size()), out);
        out.truncate(0);
    };
    for (const qint32 id : order) {
        Term& term = m_terms[size_t(id)];
        if (!out.isEmpty() && out.size() >= WordFileBytes) {
            endFile();
        }
        if (out.isEmpty()) {
            firstWords << term.text;
            out = QStringLiteral("velmoranSearch.words(%1,[").arg(firstWords.size());
        } else {
            out += u',';
        }
        appendJsText(out, term.text);
        out += u',';
        if (term.numbers.size() <= PieceBytes) {
            out += u'"';
            out += QLatin1StringView(term.numbers);
            out += u'"';
        } else {
            // [first piece, pieces]; each piece ends where a number ends.
            const int first = m_pieces + 1;
            for (qsizetype at = 0; at < term.numbers.size();) {
                qsizetype end = std::min(at + PieceBytes, term.numbers.size());
                while (end < term.numbers.size() && continues(term.numbers[end - 1]))
                    ++end;
                ++m_pieces;
                QString piece = QStringLiteral("velmoranSearch.piece(%1,\"").arg(m_pieces);
                piece += QLatin1StringView(term.numbers.constData() + at, end - at);
                piece += QLatin1StringView("\");\n");
                writeFile(QStringLiteral("p%1.js").arg(m_pieces), piece);
                at = end;
            }
            out += QStringLiteral("[%1,%2]").arg(first).arg(m_pieces - first + 1);
        }
        term.numbers = {};
    }
    if (!out.isEmpty())
        endFile();
    return firstWords;
}

void SearchIndex::finish()
{
    writeBlock();
    const QStringList firstWords = writeWords();
    m_slots = {};
    m_terms.clear();

    std::vector<const Conversation*> newestFirst;
    for (const Conversation& c : m_conversations) {
        if (c.count > 0)
            newestFirst.push_back(&c);
    }
    std::stable_sort(
        newestFirst.begin(), newestFirst.end(),
        [](const Conversation* a, const Conversation* b) { return a->lastMs > b->lastMs; });
    QString out = QStringLiteral("velmoranSearch.index({messages:");
    appendInteger(out, m_messages);
    out += QLatin1StringView(",block:");
    appendInteger(out, MessagesPerBlock);
    out += QLatin1StringView(",conversations:[");
    for (const Conversation* c : newestFirst) {
        if (c != newestFirst.front())
            out += u',';
        appendJsText(out, c->name);
        out += u',';
        appendJsText(out, c->folder);
        out += u',';
        appendInteger(out, c->first);
        out += u',';
        appendInteger(out, c->count);
    }
    out += QLatin1StringView("],words:");
    appendJsList(out, firstWords);
    out += QLatin1StringView("});\n");
    writeFile(QStringLiteral("index.js"), out);
    writeFile(QStringLiteral("search.js"), QString::fromUtf8(SearchScript));
}

void SearchIndex::writeFile(const QString& name, QStringView text)
{
    Utf8File file(m_folder + name);
    file.append(text);
    file.finish();
}

} // namespace velmoran
