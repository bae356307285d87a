#include "search_run.h"

#include "chat_service.h"
#include "contact_list_model.h"
#include "dialogs.h"
#include "error_report.h"
#include "event_pump.h"
#include "failure.h"
#include "guarded_routine.h"
#include "main_window_help_command.h"
#include "mouse_pointer.h"
#include "platform.h"
#include "progress_display.h"
#include "results_model.h"
#include "search_engine.h"

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
    return QLatin1String("Reading ") + QString::number(k) + QLatin1String(" of ") + QString::number(n);
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

} // namespace

SearchRun::SearchRun(Window window, Controls controls, ChatServiceFactory& chatServices,
                     ContactListModel& contacts, ResultsModel& results)
    : m_window(window)
    , m_controls(controls)
    , m_chatServices(chatServices)
    , m_contacts(contacts)
    , m_results(results)
    , m_pattern(controls.searchText->text())
    , m_reportDialogs(window.platform.dialogs, *this)
    , m_reporter(m_reportDialogs)
{
    // The text box announces every change, so the matcher always holds its current text.
    m_textFollower = QObject::connect(m_controls.searchText, &QLineEdit::textChanged,
                                      m_controls.searchText,
                                      [this](const QString& text) { m_pattern.setText(text); });
}

SearchRun::~SearchRun()
{
    QObject::disconnect(m_textFollower);
}

void SearchRun::ReportDialogs::errorReport(const QString& text)
{
    m_run.showReadingText();
    m_dialogs.errorReport(text);
}

void SearchRun::showReadingText()
{
    if (!m_readingPending)
        return;
    m_readingPending = false;
    m_window.progress.setText(readingText(m_readingMessage, m_readingCount));
}

void SearchRun::letEventsRun()
{
    EventPump& pump = m_window.eventPump;
    if (!pump.isDue())
        return;
    showReadingText();
    if (m_sinceAnnounced.hasExpired(AnnounceIntervalMs)) {
        m_results.announcePending();
        m_sinceAnnounced.restart();
    }
    pump.yieldNow();
    // A command that ran in between may have switched the batching off.
    m_results.setDeferAnnouncements(true);
}

void SearchRun::PushButton7_Click()
{
    GuardedRoutine routine(m_reporter,
                           routineLabel(QStringLiteral("Form1"), QStringLiteral("PushButton7_Click")));
    QPushButton* button = m_controls.button;
    if (!routine.test(100, [&] { return button->text() == StartCaption; })) {
        routine.step(188, [&] { m_window.stopRequested = true; });
        return;
    }
    routine.step(102, [&] { button->setText(StopCaption); });
    if (!routine.test(104, [&] { return m_contacts.size() >= 1; })) {
        routine.step(186, [&] {
            button->setText(StartCaption);
            m_window.platform.dialogs.message(
                QStringLiteral("Contacts list is empty. Please click 'List Contacts In Skype'."));
        });
        return;
    }
    routine.step(106, [&] { m_window.mousePointer.set(MousePointer::Hourglass); });
    std::unique_ptr<ChatService> created;
    routine.step(108, [&] { created = m_chatServices.create(); });
    if (!created)
        created = std::make_unique<MissingChatService>();
    ChatService& service = *created;
    if (routine.test(110, [&] { return !service.isClientRunning(); })) {
        // Two steps under one label, so a failing pointer still frees the button.
        routine.step(112, [&] { m_window.mousePointer.set(MousePointer::Default); });
        routine.step(112, [&] { button->setText(StartCaption); });
        routine.step(114, [&] { m_window.help.PushButton13_Click(); });
        return;
    }
    routine.step(116, [&] { m_window.stopRequested = false; });
    search(routine, service);
    routine.step(174, [&] { m_window.stopRequested = true; });
    routine.step(176, [&] { button->setText(StartCaption); });
    routine.step(178, [&] { m_window.mousePointer.set(MousePointer::Default); });
    routine.step(180, [&] { m_window.progress.setValue(0); });
    routine.step(182, [&] { m_window.progress.setText(QStringLiteral("Progress Bar")); });
    routine.step(184, [&] { m_window.platform.dialogs.message(QStringLiteral("Done.")); });
}

namespace {

// The window's contact list as the search reads it.
class ContactRows final : public SearchContacts {
public:
    explicit ContactRows(const ContactListModel& contacts)
        : m_contacts(contacts)
    {
    }
    qsizetype size() const override { return m_contacts.size(); }
    bool isChecked(qsizetype row) const override { return m_contacts.isChecked(row); }
    QString text(qsizetype row) const override { return m_contacts.text(row); }

private:
    const ContactListModel& m_contacts;
};

} // namespace

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
    bool stopRequested() const override { return m_run.m_window.stopRequested; }
    void chatReached(double percent) override { m_run.m_window.progress.setValue(percent); }
    void readingMessage(qint32 k, qint32 count) override
    {
        m_run.m_readingCount = count;
        m_run.m_readingMessage = k;
        m_run.m_readingPending = true;
    }
    void letEventsRun() override { m_run.letEventsRun(); }

private:
    SearchRun& m_run;
};

// The chat, contact and message loops (steps 118 to 172).
void SearchRun::search(GuardedRoutine& routine, ChatService& service)
{
    DeferredAnnouncements batching(m_results);
    m_sinceAnnounced.start();
    const ContactRows contacts(m_contacts);
    WindowObserver observer(*this);
    searchChats(routine, service, contacts, m_pattern, m_timestamps, observer, m_results);
    showReadingText();
}

} // namespace velmoran
