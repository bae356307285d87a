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

bool SearchRun::matches(QStringView field) const
{
    return m_pattern.matches(field, m_controls.matchCase->isChecked() ? Qt::CaseSensitive
                                                                      : Qt::CaseInsensitive);
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

// The chat, contact and message loops (steps 118 to 172).
void SearchRun::search(GuardedRoutine& routine, ChatService& service)
{
    DeferredAnnouncements batching(m_results);
    m_sinceAnnounced.start();
    const bool& stop = m_window.stopRequested;

    // Appends one results row; a failing read leaves its part of the row empty.
    auto appendRow = [&](int contactStep, int valueStep, qsizetype j, ResultField field,
                         auto&& readValue) {
        QString contact;
        QString value;
        routine.step(contactStep, [&] { contact = m_contacts.text(j); });
        routine.step(valueStep, [&] { value = readValue(); });
        m_results.append(contact, field, value);
    };

    const qint32 chats = routine.loopBound(118, [&] { return service.chatCount(); });
    for (qint32 i = 1; i <= chats; ++i) {
        routine.step(120, [&] {
            const qint32 count = service.chatCount();
            if (count == 0)
                throw Failure(QStringLiteral("Division by zero."));
            m_window.progress.setValue(double(qint64(i) * 100 / count));
        });
        routine.step(122, [&] { letEventsRun(); });
        if (routine.test(124, [&] { return service.messageCount(i) > 0; })) {
            const qsizetype rows = routine.loopBound(126, [&] { return m_contacts.size(); });
            for (qsizetype j = 1; j <= rows; ++j) {
                if (!routine.test(128, [&] { return m_contacts.isChecked(j); }))
                    continue;
                if (!routine.test(130, [&] { return m_contacts.text(j) == service.peerHandle(i); }))
                    continue;
                const qint32 messages = routine.loopBound(132, [&] { return service.messageCount(i); });
                for (qint32 k = 1; k <= messages; ++k) {
                    routine.step(134, [&] {
                        m_readingCount = service.messageCount(i);
                        m_readingMessage = k;
                        m_readingPending = true;
                    });
                    routine.step(136, [&] { letEventsRun(); });
                    if (routine.test(138, [&] {
                            return matches(service.messageAt(i, k).senderDisplayName);
                        }))
                        appendRow(140, 144, j, ResultField::FromDisplayName,
                                  [&] { return service.messageAt(i, k).senderDisplayName; });
                    if (routine.test(146, [&] { return matches(service.messageAt(i, k).body); }))
                        appendRow(148, 152, j, ResultField::Body,
                                  [&] { return service.messageAt(i, k).body; });
                    if (routine.test(154, [&] {
                            return matches(m_timestamps.view(service.messageAt(i, k).timestampMs));
                        }))
                        appendRow(156, 160, j, ResultField::Timestamp, [&] {
                            return m_timestamps.format(service.messageAt(i, k).timestampMs);
                        });
                    if (routine.test(162, [&] { return stop; }))
                        break;
                }
                if (routine.test(166, [&] { return stop; }))
                    break;
            }
        }
        if (routine.test(170, [&] { return stop; }))
            break;
    }
    showReadingText();
}

} // namespace velmoran
