#pragma once

#include "chat/chat_history.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace velmoran {

// The program's view of the chat client: the operations below and nothing else.
//
// Each command that needs the client creates its own ChatService, uses it and drops it when
// the command ends. Positions are 1-based, as the client numbers them, and stay stable while
// the history does not change.
//
// Error contract: any operation may fail by throwing velmoran::Failure with a description
// text. Callers report it under their own step number and go on; the service retries nothing
// and shows nothing itself. Callers ask isClientRunning() first and make no further call when
// it answers false.
class ChatService {
public:
    virtual ~ChatService() = default;

    virtual bool isClientRunning() = 0;

    // The client's contact handles, once each, first to last in the client's order.
    virtual QStringList enumerateContacts() = 0;

    virtual qint32 chatCount() = 0;
    virtual QString peerHandle(qint32 chat) = 0;
    virtual qint32 messageCount(qint32 chat) = 0;
    // The message stays valid until the service is destroyed.
    virtual const HistoryMessage& messageAt(qint32 chat, qint32 message) = 0;

    // The history the service reads, when it reads one (chat position p is chats[p - 1]);
    // null for a service that is not over a loaded history.
    virtual ChatHistoryPtr history() const { return nullptr; }
};

// Creates one ChatService per command.
class ChatServiceFactory {
public:
    virtual ~ChatServiceFactory() = default;
    virtual std::unique_ptr<ChatService> create() = 0;
    // Notices about the history to tell the user once (messages a reader had to leave out),
    // gathered since the last call.
    virtual QStringList takeNotices() { return {}; }
};

// A ChatService over a loaded history; a null history is a client that is not running.
class HistoryChatService final : public ChatService {
public:
    explicit HistoryChatService(ChatHistoryPtr history);

    bool isClientRunning() override;
    QStringList enumerateContacts() override;
    qint32 chatCount() override;
    QString peerHandle(qint32 chat) override;
    qint32 messageCount(qint32 chat) override;
    const HistoryMessage& messageAt(qint32 chat, qint32 message) override;
    ChatHistoryPtr history() const override { return m_history; }

private:
    const ChatHistory& loaded() const;
    const HistoryChat& chatAt(qint32 chat) const;

    ChatHistoryPtr m_history;
};

// Hands out services over whatever history the provider returns at the time of each command,
// so a history that appears or changes between commands is picked up by the next one.
class HistoryChatServiceFactory final : public ChatServiceFactory {
public:
    using Provider = std::function<ChatHistoryPtr()>;
    explicit HistoryChatServiceFactory(Provider provider);
    std::unique_ptr<ChatService> create() override;
    QStringList takeNotices() override;
    // Keeps a notice for the next takeNotices().
    void addNotice(const QString& notice);

private:
    Provider m_provider;
    QStringList m_notices;
};

} // namespace velmoran
