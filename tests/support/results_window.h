#pragma once

#include "chat/chat_service.h"
#include "fake_platform.h"
#include "app/form1.h"
#include "app/results_model.h"
#include "chat/sample_history.h"

#include <QPushButton>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace velmoran::test {

// The real window on a fake desktop, loaded, with yields that always let events run, for
// driving the results commands through their buttons.
struct ResultsWindow {
    ResultsWindow()
        : fake(folder.path())
        , chats([] { return sampleHistory(); })
        , window(fake.platform, chats)
    {
        window.eventPump().setMinimumInterval(0);
        window.Form_Load();
    }

    struct Row {
        QString contact;
        MessageField field;
        QString value;
    };
    void fill(const std::vector<Row>& rows)
    {
        for (const Row& row : rows)
            window.results().append(row.contact, row.field, row.value);
    }
    // The contacts of the results rows, top to bottom.
    QStringList contacts()
    {
        QStringList result;
        for (qsizetype row = 1; row <= window.results().size(); ++row)
            result << window.results().contact(row);
        return result;
    }
    void click(int buttonNumber) { window.button(buttonNumber)->click(); }

    QTemporaryDir folder;
    FakePlatform fake;
    HistoryChatServiceFactory chats;
    Form1 window;
};

} // namespace velmoran::test
