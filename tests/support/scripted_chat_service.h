#pragma once

#include "chat/chat_service.h"
#include "core/failure.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace velmoran::test {

// A chat client whose contacts and failures a test sets up. Each operation listed as failing
// throws Failure with a description that names it. Only the contact side is served.
class ScriptedChatServiceFactory final : public ChatServiceFactory {
public:
    QStringList contacts;
    bool running = true;
    bool failCreate = false;
    bool failIsClientRunning = false;
    bool failEnumerateContacts = false;
    int created = 0;
    // Runs when a service is created (for example, to look at the window at that moment).
    std::function<void()> onCreate;

    std::unique_ptr<ChatService> create() override
    {
        ++created;
        if (onCreate)
            onCreate();
        if (failCreate)
            throw Failure(QStringLiteral("Cannot create the chat service"));
        return std::make_unique<Service>(*this);
    }

private:
    class Service final : public ChatService {
    public:
        explicit Service(ScriptedChatServiceFactory& script)
            : m_script(script)
        {
        }
        bool isClientRunning() override
        {
            if (m_script.failIsClientRunning)
                throw Failure(QStringLiteral("The client did not answer"));
            return m_script.running;
        }
        QStringList enumerateContacts() override
        {
            if (m_script.failEnumerateContacts)
                throw Failure(QStringLiteral("Reading the contacts failed"));
            return m_script.contacts;
        }
        qint32 chatCount() override { throw Failure(QStringLiteral("No chats here")); }
        QString peerHandle(qint32) override { throw Failure(QStringLiteral("No chats here")); }
        qint32 messageCount(qint32) override { throw Failure(QStringLiteral("No chats here")); }
        const HistoryMessage& messageAt(qint32, qint32) override
        {
            throw Failure(QStringLiteral("No chats here"));
        }

    private:
        ScriptedChatServiceFactory& m_script;
    };
};

} // namespace velmoran::test
