#include "app/conversation_find.h"

#include "app/conversation_models.h"
#include "core/event_pump.h"
#include "core/failure.h"

#include <QTimer>

#include <algorithm>

namespace velmoran {

ConversationFind::ConversationFind(const MessageListModel& messages, EventPump& pump,
                                   QObject* parent)
    : QObject(parent)
    , m_messages(messages)
    , m_pump(pump)
{
}

void ConversationFind::start(const QString& text, Qt::CaseSensitivity cs)
{
    m_text = text;
    m_case = cs;
    ++m_run;
    m_matches.clear();
    m_scanned = 0;
    m_counted = false;
    scan(FirstPiece);
    if (m_counted)
        return;
    // A long chat: the rest is counted once the window has shown the message.
    const unsigned run = m_run;
    QTimer::singleShot(0, this, [this, run] {
        if (run == m_run)
            finishCount();
    });
}

void ConversationFind::scan(int count)
{
    m_scanned = m_messages.find(m_text, m_case, m_scanned, count, m_matches);
    m_counted = m_scanned >= m_messages.messageCount();
    emit progressed();
}

bool ConversationFind::finishCount()
{
    // Counts that run at once (a step to the next match during a count) share the position, so
    // whichever finishes, all see the count complete.
    const unsigned run = m_run;
    try {
        while (!m_counted) {
            m_pump.yield();
            if (run != m_run)
                return false;
            if (!m_counted)
                scan(Piece);
        }
    } catch (const ProgramClosing&) {
        return false;
    }
    return run == m_run;
}

int ConversationFind::firstAtOrAfter(int message) const
{
    const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), message);
    return at == m_matches.end() ? -1 : *at;
}

int ConversationFind::nextAfter(int message)
{
    if (!finishCount() || m_matches.empty())
        return -1;
    const auto at = std::upper_bound(m_matches.begin(), m_matches.end(), message);
    return at == m_matches.end() ? m_matches.front() : *at;
}

int ConversationFind::previousBefore(int message)
{
    if (!finishCount() || m_matches.empty())
        return -1;
    const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), message);
    return at == m_matches.begin() ? m_matches.back() : *(at - 1);
}

QString ConversationFind::countText() const
{
    if (m_text.isEmpty())
        return {};
    if (!m_counted)
        return tr("Counting\u2026");
    if (m_matches.empty())
        return tr("No matches");
    const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), m_current);
    const qsizetype k = at != m_matches.end() && *at == m_current ? at - m_matches.begin() + 1 : 0;
    return tr("%1 of %2").arg(k).arg(m_matches.size());
}

} // namespace velmoran
