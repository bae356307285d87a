#include "scripted_chats.h"

#include "core/failure.h"

namespace velmoran::test {

namespace {

// The real service over the history, with the script's failures and hooks around it.
class ScriptedService final : public ChatService {
public:
    ScriptedService(ChatHistoryPtr history, ScriptedChats& script)
        : m_inner(std::move(history))
        , m_script(script)
    {
    }
    bool isClientRunning() override
    {
        if (m_script.failIsClientRunning)
            throw Failure(QStringLiteral("The client did not answer"));
        return m_script.running && m_inner.isClientRunning();
    }
    QStringList enumerateContacts() override
    {
        if (m_script.failEnumerateContacts)
            throw Failure(QStringLiteral("Reading the contacts failed"));
        return m_inner.enumerateContacts();
    }
    qint32 chatCount() override { return m_inner.chatCount(); }
    QString peerHandle(qint32 chat) override { return m_inner.peerHandle(chat); }
    qint32 messageCount(qint32 chat) override { return m_inner.messageCount(chat); }
    const HistoryMessage& messageAt(qint32 chat, qint32 message) override
    {
        const std::pair<qint32, qint32> position{chat, message};
        if (m_script.reads.isEmpty() || m_script.reads.constLast() != position) {
            m_script.reads << position;
            if (m_script.onMessage)
                m_script.onMessage(chat, message);
        }
        if (chat == m_script.failingChat && message == m_script.failingMessage)
            throw Failure(QStringLiteral("The client lost the message."));
        return m_inner.messageAt(chat, message);
    }
    ChatHistoryPtr history() const override { return m_inner.history(); }

private:
    HistoryChatService m_inner;
    ScriptedChats& m_script;
};

} // namespace

ScriptedChats::ScriptedChats()
    : history(std::make_shared<ChatHistory>())
{
}

void ScriptedChats::setContacts(const QStringList& contacts)
{
    auto served = std::make_shared<ChatHistory>();
    served->contacts = contacts;
    history = std::move(served);
}

std::unique_ptr<ChatService> ScriptedChats::create()
{
    ++created;
    if (onCreate)
        onCreate();
    if (failCreate)
        throw Failure(QStringLiteral("Cannot create the chat service"));
    return std::make_unique<ScriptedService>(provider ? provider() : history, *this);
}

} // namespace velmoran::test
