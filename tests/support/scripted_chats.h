#pragma once

#include "chat/chat_service.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

namespace velmoran::test {

// A chat client a test scripts. Each command's service serves the history the client holds at
// that moment (history, or what provider answers when one is set, such as a HistoryLoader); a
// null history, or running = false, is a client that is not running. Chosen operations fail by
// throwing Failure with a description that names them, and a test can act when a service is
// created or a message is first read.
class ScriptedChats final : public ChatServiceFactory {
public:
    ScriptedChats();

    // The history served unless provider is set; starts empty (no contacts, no chats).
    ChatHistoryPtr history;
    HistoryChatServiceFactory::Provider provider;
    // Serves a history of these contacts and no chats.
    void setContacts(const QStringList& contacts);

    bool running = true;
    bool failCreate = false;            // "Cannot create the chat service"
    bool failIsClientRunning = false;   // "The client did not answer"
    bool failEnumerateContacts = false; // "Reading the contacts failed"
    // Reads of this message fail ("The client lost the message."); 0: none.
    qint32 failingChat = 0;
    qint32 failingMessage = 0;

    // Runs when a service is created, before a scripted creation failure.
    std::function<void()> onCreate;
    // Runs on the first read of each message, before the caller tests it.
    std::function<void(qint32 chat, qint32 message)> onMessage;

    // Services created so far, and the messages read (chat, message), each once in a row.
    int created = 0;
    QList<std::pair<qint32, qint32>> reads;

    // Notices for the user about the history (messages a reader left out), told once.
    void addNotice(const QString& notice) { m_notices << notice; }
    QStringList takeNotices() override { return std::exchange(m_notices, {}); }

    std::unique_ptr<ChatService> create() override;

private:
    QStringList m_notices;
};

} // namespace velmoran::test
