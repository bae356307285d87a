#include "app/search_run.h"

#include "app/command_context.h"

#include "app/contact_list_model.h"
#include "app/contact_rows.h"
#include "app/main_window_help_command.h"
#include "app/mouse_pointer.h"
#include "app/progress_display.h"
#include "app/results_model.h"
#include "chat/chat_service.h"
#include "core/dialogs.h"
#include "core/error_report.h"
#include "core/event_pump.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "core/platform.h"
#include "search/search_engine.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace velmoran {

namespace {

const QLatin1String StartCaption("Start Finding");
const QLatin1String StopCaption("Stop Finding");

// Stands in for a chat service that could not be created: every operation fails, so each step
// that needs the client is reported and the run still comes to its end.
class MissingChatService final : public ChatService {
public:
    bool isClientRunning() override { fail(); }
    QStringList enumerateContacts() override { fail(); }
    qint32 chatCount() override { fail(); }
    QString peerHandle(qint32) override { fail(); }
    qint32 messageCount(qint32) override { fail(); }
    const HistoryMessage& messageAt(qint32, qint32) override { fail(); }

private:
    [[noreturn]] static void fail()
    {
        throw Failure(QStringLiteral("The chat service could not be created."));
    }
};

QString readingText(qint32 k, qint32 n)
{
    return QLatin1String("Reading ") + QString::number(k) + QLatin1String(" of ")
           + QString::number(n);
}

// New rows are shown in batches while the run goes and all at once when it ends, including
// when a close of the window unwinds it.
class DeferredAnnouncements {
public:
    explicit DeferredAnnouncements(ResultsModel& results)
        : m_results(results)
    {
        m_results.setDeferAnnouncements(true);
    }
    ~DeferredAnnouncements() { m_results.setDeferAnnouncements(false); }
    DeferredAnnouncements(const DeferredAnnouncements&) = delete;
    DeferredAnnouncements& operator=(const DeferredAnnouncements&) = delete;

private:
    ResultsModel& m_results;
};

// The pump's hooks for the length of a run, including when a close of the window unwinds it.
class EventHooks {
public:
    EventHooks(EventPump& pump, std::function<void()> before, std::function<void()> after)
        : m_pump(pump)
    {
        m_pump.setEventHooks(std::move(before), std::move(after));
    }
    ~EventHooks() { m_pump.setEventHooks({}, {}); }
    EventHooks(const EventHooks&) = delete;
    EventHooks& operator=(const EventHooks&) = delete;

private:
    EventPump& m_pump;
};

// Found rows go straight into the results list, each with its message when the service reads
// a loaded history.
class ResultsSink final : public SearchSink {
public:
    ResultsSink(ResultsModel& results, ChatHistoryPtr history)
        : m_results(results)
        , m_history(std::move(history))
    {
    }
    void found(const QString& contact, MessageField field, const QString& value) override
    {
        m_results.append(contact, field, value);
    }
    void foundAt(qint32 chat, qint32 message, const QString& contact, MessageField field,
                 const QString& value) override
    {
        // The list keeps the history only once a row refers to it.
        if (m_history) {
            m_source = m_results.sourceSlot(m_history);
            m_history.reset();
        }
        if (m_source == 0 || chat < 1 || message < 1)
            return found(contact, field, value);
        m_results.append(contact, field, value,
                         MessageRef{m_source, quint32(chat - 1), quint32(message - 1)});
    }

private:
    ResultsModel& m_results;
    ChatHistoryPtr m_history;
    quint8 m_source = 0;
};

} // namespace

// The window's failure report; the progress text is brought up to date before a report.
class SearchRun::ReportFirst final : public ErrorReporter {
public:
    explicit ReportFirst(SearchRun& run)
        : m_run(run)
    {
    }
    void report(const QString& description, const QString& routineLabel, int step) override
    {
        m_run.showReadingText();
        m_run.m_context.reporter.report(description, routineLabel, step);
    }

private:
    SearchRun& m_run;
};

SearchRun::SearchRun(CommandContext& context, Controls controls)
    : m_context(context)
    , m_controls(controls)
    , m_pattern(controls.searchText->text())
    , m_reporter(std::make_unique<ReportFirst>(*this))
{
    // The text box announces every change, so the matcher always holds its current text.
    m_textFollower =
        QObject::connect(m_controls.searchText, &QLineEdit::textChanged, m_controls.searchText,
                         [this](const QString& text) { m_pattern.setText(text); });
}

SearchRun::~SearchRun()
{
    QObject::disconnect(m_textFollower);
}

void SearchRun::showReadingText()
{
    if (!m_readingPending)
        return;
    m_readingPending = false;
    m_context.progress.setText(readingText(m_readingMessage, m_readingCount));
}

void SearchRun::beforeEvents()
{
    showReadingText();
    if (m_sinceAnnounced.hasExpired(AnnounceIntervalMs)) {
        m_context.results.announcePending();
        m_sinceAnnounced.restart();
    }
}

void SearchRun::PushButton7_Click()
{
    GuardedRoutine routine(
        *m_reporter, routineLabel(QStringLiteral("Form1"), QStringLiteral("PushButton7_Click")));
    QPushButton* button = m_controls.button;
    if (!routine.test(100, [&] { return button->text() == StartCaption; })) {
        routine.step(188, [&] { m_stopRequested = true; });
        return;
    }
    routine.step(102, [&] { button->setText(StopCaption); });
    if (!routine.test(104, [&] { return m_context.contacts.size() >= 1; })) {
        routine.step(186, [&] {
            button->setText(StartCaption);
            m_context.platform.dialogs.message(
                QStringLiteral("Contacts list is empty. Please click 'List Contacts In Skype'."));
        });
        return;
    }
    routine.step(106, [&] { m_context.pointer.set(MousePointer::Hourglass); });
    std::unique_ptr<ChatService> created;
    routine.step(108, [&] { created = m_context.chatServices.create(); });
    if (!created)
        created = std::make_unique<MissingChatService>();
    ChatService& service = *created;
    if (routine.test(110, [&] { return !service.isClientRunning(); })) {
        // Two steps under one label, so a failing pointer still frees the button.
        routine.step(112, [&] { m_context.pointer.set(MousePointer::Default); });
        routine.step(112, [&] { button->setText(StartCaption); });
        routine.step(114, [&] { m_context.help.PushButton13_Click(); });
        return;
    }
    routine.step(116, [&] { m_stopRequested = false; });
    search(routine, service);
    routine.step(174, [&] { m_stopRequested = true; });
    routine.step(176, [&] { button->setText(StartCaption); });
    routine.step(178, [&] { m_context.pointer.set(MousePointer::Default); });
    routine.step(180, [&] { m_context.progress.setValue(0); });
    routine.step(182, [&] { m_context.progress.setText(QStringLiteral("Progress Bar")); });
    routine.step(184, [&] { m_context.platform.dialogs.message(QStringLiteral("Done.")); });
}

// What the search shows in the window and asks of it while it walks.
class SearchRun::WindowObserver final : public SearchObserver {
public:
    explicit WindowObserver(SearchRun& run)
        : m_run(run)
    {
    }
    Qt::CaseSensitivity caseSensitivity() const override
    {
        return m_run.m_controls.matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    }
    bool stopRequested() const override { return m_run.m_stopRequested; }
    void chatReached(double percent) override { m_run.m_context.progress.setValue(percent); }
    void readingMessage(qint32 k, qint32 count) override
    {
        m_run.m_readingCount = count;
        m_run.m_readingMessage = k;
        m_run.m_readingPending = true;
    }
    void letEventsRun() override { m_run.m_context.pump.yield(); }

private:
    SearchRun& m_run;
};

// The chat, contact and message loops (steps 118 to 172).
void SearchRun::search(GuardedRoutine& routine, ChatService& service)
{
    ResultsModel& results = m_context.results;
    DeferredAnnouncements batching(results);
    // A command that runs inside a yield may switch the batching off; it is switched on again
    // after each.
    EventHooks hooks(
        m_context.pump, [this] { beforeEvents(); },
        [&results] { results.setDeferAnnouncements(true); });
    m_sinceAnnounced.start();
    const ContactRows contacts(m_context.contacts);
    WindowObserver observer(*this);
    ResultsSink sink(results, service.history());
    searchChats(routine, service, contacts, m_pattern, m_timestamps, observer, sink);
    showReadingText();
}

} // namespace velmoran
