#pragma once

#include "chat/chat_service.h"
#include "fake_platform.h"
#include "app/form1.h"
#include "chat/history_loader.h"

#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

namespace velmoran::test {

// The real window on a fake desktop, its history read from files as `velmoran FILE...` reads
// them. A file that cannot be read is told in a message box.
struct HistoryWindow {
    explicit HistoryWindow(const QStringList& files)
        : loader(std::make_shared<HistoryLoader>(files))
        , fake(folder.path())
        , services([this] { return loader->load(); })
        , window(fake.platform, services)
    {
        loader->setReport([this](const QString& text) { fake.platform.dialogs.message(text); });
        window.eventPump().setMinimumInterval(0);
        window.Form_Load();
    }
    // A window over the given history (the built-in sample, say) instead of files.
    explicit HistoryWindow(HistoryChatServiceFactory::Provider provider)
        : fake(folder.path())
        , services(std::move(provider))
        , window(fake.platform, services)
    {
        window.eventPump().setMinimumInterval(0);
        window.Form_Load();
    }
    QStringList listed()
    {
        QStringList texts;
        for (int row = 1; row <= window.contacts().size(); ++row)
            texts << window.contacts().text(row);
        return texts;
    }
    void click(int button) { window.button(button)->click(); }

    std::shared_ptr<HistoryLoader> loader;
    QTemporaryDir folder;
    FakePlatform fake;
    HistoryChatServiceFactory services;
    Form1 window;
};

} // namespace velmoran::test
