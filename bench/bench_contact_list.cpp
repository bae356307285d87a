// Listing and ticking a large contact list with the view attached.
//
//   bench_contact_list [rows]      (default 100000; run with QT_QPA_PLATFORM=offscreen)
//
// Prints the median of several runs of "List Contacts In Skype", "Uncheck All" and "Check All"
// over a list of that many rows, and as reference the same work done row by row (one
// insertion and one tick announcement per row), which is what the view would otherwise hear.

#include "app/command_context.h"
#include "app/contact_list_commands.h"
#include "app/contact_list_model.h"
#include "app/main_window_help_command.h"
#include "app/mouse_pointer.h"
#include "app/progress_display.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "chat/chat_service.h"
#include "core/dialogs.h"
#include "core/error_report.h"
#include "core/event_pump.h"
#include "core/platform.h"
#include "quiet_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace velmoran;

namespace {

// A client with many contacts.
class ManyContacts final : public ChatServiceFactory {
public:
    explicit ManyContacts(int count)
    {
        for (int i = 1; i <= count; ++i)
            contacts << QStringLiteral("contact.%1").arg(i);
    }
    std::unique_ptr<ChatService> create() override
    {
        auto history = std::make_shared<ChatHistory>();
        history->contacts = contacts;
        return std::make_unique<HistoryChatService>(history);
    }
    QStringList contacts;
};

// A fresh model shown in a view, as the window has it.
struct ListedView {
    ListedView()
    {
        model.addColumn(QStringLiteral("Contacts"));
        view.setModel(&model);
        view.resize(520, 120);
        view.show();
        QApplication::processEvents();
    }
    ContactListModel model;
    QTableView view;
};

double medianMs(const std::function<void(ListedView&)>& prepare,
                const std::function<void(ListedView&)>& work, int runs = 5)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        ListedView listed;
        prepare(listed);
        QElapsedTimer timer;
        timer.start();
        work(listed);
        QApplication::processEvents(); // the view catches up, as it would before the next paint
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100000;

    bench::QuietPlatform desktop;
    Platform& platform = desktop.platform;
    DialogErrorReporter reporter(desktop.dialogs);
    MainWindowHelpCommand help(platform, reporter, [] { return QString(); });
    MousePointer pointer;
    EventPump pump;
    TextProgressBar bar;
    ProgressDisplay progress(&bar);
    ResultsModel results;
    ResultsRemovalLock removal;
    ManyContacts client(rows);

    // The commands of each run work on that run's list; everything else is shared.
    std::unique_ptr<CommandContext> context;
    auto commands = [&](ListedView& listed) {
        context = std::make_unique<CommandContext>(CommandContext{platform, reporter, pump, pointer,
                                                                  progress, client, listed.model,
                                                                  results, removal, help});
        return ContactListCommands(*context);
    };
    auto none = [](ListedView&) {};
    auto listFirst = [&](ListedView& listed) { commands(listed).PushButton2_Click(); };

    const double listing = medianMs(none, listFirst);
    const double uncheck =
        medianMs(listFirst, [&](ListedView& l) { commands(l).PushButton4_Click(); });
    auto listUnticked = [&](ListedView& listed) {
        listFirst(listed);
        commands(listed).PushButton4_Click();
        QApplication::processEvents();
    };
    const double check =
        medianMs(listUnticked, [&](ListedView& l) { commands(l).PushButton3_Click(); });

    // Reference: the same rows appended and ticked one announcement at a time.
    const double rowByRow = medianMs(none, [&](ListedView& listed) {
        for (const QString& handle : client.contacts)
            listed.model.append(handle);
        for (qsizetype row = 1; row <= listed.model.size(); ++row)
            listed.model.setChecked(row, true);
    });

    std::printf("contact list, %d rows, median of 5 runs (ms):\n", rows);
    std::printf("  List Contacts In Skype          %10.1f\n", listing);
    std::printf("  Uncheck All                     %10.1f\n", uncheck);
    std::printf("  Check All                       %10.1f\n", check);
    std::printf("  reference: row by row listing   %10.1f\n", rowByRow);
    return 0;
}
