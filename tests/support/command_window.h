#pragma once

#include "chat/chat_service.h"
#include "app/contact_list_model.h"
#include "fake_platform.h"
#include "app/form1.h"
#include "chat/sample_history.h"
#include "scripted_chat_service.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace velmoran::test {

// The real window on a fake desktop, its chat client either the sample history or a scripted
// one. The program folder's path holds blanks unless the test names another folder.
struct CommandWindow {
    enum Client { Sample, Scripted };
    explicit CommandWindow(Client client = Scripted,
                           const QString& folderTemplate = QStringLiteral("velmoran program XXXXXX"))
        : folder(QDir::tempPath() + QLatin1Char('/') + folderTemplate)
        , fake(folder.path())
        , sample([] { return sampleHistory(); })
        , window(fake.platform, client == Sample ? static_cast<ChatServiceFactory&>(sample)
                                                 : static_cast<ChatServiceFactory&>(scripted))
    {
        window.eventPump().setMinimumInterval(0);
        window.Form_Load();
    }

    void click(int button) { window.button(button)->click(); }

    // The rows as the view reads them: text, and whether the tick shows.
    QStringList texts()
    {
        QStringList result;
        const ContactListModel& model = window.contacts();
        for (int row = 0; row < model.rowCount(); ++row)
            result << model.data(model.index(row, 0), Qt::DisplayRole).toString();
        return result;
    }
    QList<bool> ticks()
    {
        QList<bool> result;
        const ContactListModel& model = window.contacts();
        for (int row = 0; row < model.rowCount(); ++row)
            result << (model.data(model.index(row, 0), Qt::CheckStateRole).toInt() == Qt::Checked);
        return result;
    }
    // Unticks a row as a click on its check box does.
    void untick(int row)
    {
        ContactListModel& model = window.contacts();
        QVERIFY(model.setData(model.index(row - 1, 0), Qt::Unchecked, Qt::CheckStateRole));
    }
    QStringList reports() const { return fake.dialogs.errorReports(); }

    QTemporaryDir folder;
    FakePlatform fake;
    HistoryChatServiceFactory sample;
    ScriptedChatServiceFactory scripted;
    Form1 window;
};

} // namespace velmoran::test
