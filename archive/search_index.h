#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace velmoran {

// The words of a text as the archive's search finds them, each handed to term (a word that
// recurs, again):
// runs of letters, digits and marks in lower case (final sigma as sigma); a run of Chinese,
// Japanese or Thai characters, written without spaces, as each character and each pair of
// neighbours. search/search.js splits a query by the same rules.
void forEachSearchTerm(QStringView text, const std::function<void(QStringView)>& term);

// The search index of an archive: script files under search/ that index.html's search loads
// as it needs them (a page opened from disk may run scripts, never fetch files):
//   search/search.js   the search itself
//   search/index.js    the conversations with messages, newest first (name, folder, first
//                      message number, count), and the first word of each word file
//   search/w1.js …     the words in UTF-16 order, each with the numbers of its messages
//   search/p1.js …     the numbers of a word too common for one word file, in pieces
//   search/m1.js …     the messages in blocks by number: page, anchor, minute, sender, text
//                      (anchor and minute as steps from the message before)
// Messages are numbered in the order they are added; every text is a JavaScript string that
// cannot end a script (appendJsText). No file is larger than about a megabyte. Throws Failure
// when a file cannot be written.
class SearchIndex {
public:
    explicit SearchIndex(const QString& folder); // the archive's folder
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    // The conversation the messages added next belong to: its folder ("c0001") and name.
    void beginConversation(const QString& folder, const QString& name);
    // A message as its page shows it: its anchor (index in the chat), its page's file in the
    // conversation's folder, its time and sender; text is its plain text.
    void add(qint32 index, const QString& page, qint64 timeMs, const QString& sender,
             QStringView text);
    // Writes the word files, the list of conversations and the script.
    void finish();

    // The nonce index.html gives its script (random, one per archive).
    const QString& nonce() const { return m_nonce; }

private:
    struct Term {
        QString text;
        QByteArray numbers; // gaps between message numbers (appendNumber)
        qint32 last = -1;
        quint32 hash = 0;
    };
    struct Conversation {
        QString folder;
        QString name;
        qint32 first;
        qint32 count = 0;
        qint64 lastMs = 0;
    };
    void addTerm(QStringView term, qint32 message);
    void appendMessage(qint32 index, const QString& page, qint64 timeMs, const QString& sender,
                       QStringView text);
    void writeBlock();
    QStringList writeWords();
    void writeFile(const QString& name, QStringView text);

    QString m_folder; // search/
    QString m_nonce;
    qint32 m_messages = 0;
    std::vector<Conversation> m_conversations;
    // The terms' places in m_terms by a hash of their text, open addressing; -1 is empty.
    std::vector<qint32> m_slots = std::vector<qint32>(1 << 12, -1);
    std::vector<Term> m_terms;
    int m_pieces = 0;
    // The block of messages being gathered: its entries, pages and senders.
    QString m_block;
    QStringList m_blockPages;
    QStringList m_blockSenders;
    QString m_lastPage;
    size_t m_lastPageConversation = 0;
    QHash<QString, int> m_senderIds;
    qint32 m_blockMessages = 0;
    qint64 m_lastIndex = 0;
    qint64 m_lastMinute = 0;
    int m_blocks = 0;
};

} // namespace velmoran
