#include "chat/chat_service.h"

#include "core/failure.h"

#include <utility>

namespace velmoran {

HistoryChatService::HistoryChatService(ChatHistoryPtr history)
    : m_history(std::move(history))
{
}

bool HistoryChatService::isClientRunning()
{
    return m_history != nullptr;
}

const ChatHistory& HistoryChatService::loaded() const
{
    if (!m_history)
        throw Failure(QStringLiteral("The chat client is not running."));
    return *m_history;
}

QStringList HistoryChatService::enumerateContacts()
{
    return loaded().contacts;
}

qint32 HistoryChatService::chatCount()
{
    return qint32(loaded().chats.size());
}

const HistoryChat& HistoryChatService::chatAt(qint32 chat) const
{
    const ChatHistory& h = loaded();
    if (chat < 1 || size_t(chat) > h.chats.size())
        throw Failure(QStringLiteral("Chat position %1 is out of range.").arg(chat));
    return h.chats[size_t(chat) - 1];
}

QString HistoryChatService::peerHandle(qint32 chat)
{
    return chatAt(chat).peerHandle;
}

qint32 HistoryChatService::messageCount(qint32 chat)
{
    return qint32(chatAt(chat).messages.size());
}

const HistoryMessage& HistoryChatService::messageAt(qint32 chat, qint32 message)
{
    const HistoryChat& c = chatAt(chat);
    if (message < 1 || size_t(message) > c.messages.size())
        throw Failure(QStringLiteral("Message position %1 is out of range.").arg(message));
    return c.messages[size_t(message) - 1];
}

HistoryChatServiceFactory::HistoryChatServiceFactory(Provider provider)
    : m_provider(std::move(provider))
{
}

std::unique_ptr<ChatService> HistoryChatServiceFactory::create()
{
    return std::make_unique<HistoryChatService>(m_provider ? m_provider() : nullptr);
}

QStringList HistoryChatServiceFactory::takeNotices()
{
    return std::exchange(m_notices, {});
}

void HistoryChatServiceFactory::addNotice(const QString& notice)
{
    m_notices << notice;
}

} // namespace velmoran
