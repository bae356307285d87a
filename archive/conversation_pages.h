#pragma once

#include "chat/chat_history.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace velmoran {

class ArchiveStats;
class LocalTimes;
class Utf8File;
class MediaFiles;
class SearchIndex;

// The names of a chat's members (a one-to-one chat's partner), the first dozen of a large
// group, the history's own user marked "(you)".
QString memberNamesText(const ChatHistory& history, size_t chat);

// One conversation's folder of an archive (archive/archive_writer.h): its pages by month, its
// index of months and its conversation.txt, written one message at a time.
class ConversationPages {
public:
    // order: the indexes of the chat's messages to write, in time order. tick is called after
    // each message and may throw to stop. stats, when given, counts each message written.
    ConversationPages(const ChatHistory& history, size_t chat, std::vector<qint32> order,
                      const QString& folder, MediaFiles& media, LocalTimes& times,
                      std::function<void()> tick, ArchiveStats* stats = nullptr);

    ~ConversationPages();
    // Each message written is added to index (archive/search_index.h).
    void setSearchIndex(SearchIndex* index) { m_searchIndex = index; }
    void write();

private:
    struct Page {
        QString file;
        int year;
        int month;
        int part;
        qsizetype firstPosition; // in the order
        qsizetype messages = 0;
    };
    void writeMessages();
    void openPage(int year, int month, int part, qsizetype position);
    void closePage(const QString& next);
    void appendNavigation(QString& out, const QString& next);
    QString quoteTarget(qsizetype position, const QString& authorId, qint64 timeMs) const;
    void writeIndex();

    const ChatHistory& m_history;
    size_t m_chat;
    const HistoryChat& m_chatData;
    std::vector<qint32> m_order;
    QString m_folder;
    QString m_name;
    MediaFiles& m_media;
    LocalTimes& m_times;
    std::function<void()> m_tick;
    SearchIndex* m_searchIndex = nullptr;
    ArchiveStats* m_stats;
    std::vector<Page> m_pages;
    std::unique_ptr<Utf8File> m_page; // the page being written
    QString m_out;                    // markup not yet handed to a file
};

} // namespace velmoran
