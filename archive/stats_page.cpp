#include "archive/stats_page.h"

#include "archive/html_text.h"
#include "chat/message_text.h"
#include "chat/person_names.h"

#include <QLocale>
#include <QTimeZone>

#include <algorithm>
#include <map>

namespace velmoran {

ArchiveStats::ArchiveStats(const ChatHistory& history)
    : m_history(history)
{
}

void ArchiveStats::beginConversation(size_t chat, const QString& folder)
{
    m_conversations.push_back({chat, folder, 0, {}});
}

void ArchiveStats::add(const HistoryMessage& message, const LocalTimes::Minute& local)
{
    if (local.date != m_day) {
        m_day = local.date;
        m_dayMonth = monthNumber(m_day.year(), m_day.month());
        m_dayWeekday = m_day.dayOfWeek() - 1;
    }
    Conversation& conversation = m_conversations.back();
    ++conversation.messages;
    if (conversation.months.empty() || conversation.months.back().month != m_dayMonth)
        conversation.months.push_back({m_dayMonth, 0});
    ++conversation.months.back().messages;
    ++m_hours[size_t(m_dayWeekday)][size_t(local.time.hour())];

    // Messages of one sender share the sender's texts, so a run of them compares pointers only.
    if (message.senderId.constData() != m_senderId || message.senderId.size() != m_senderIdSize
        || message.senderDisplayName.constData() != m_senderName
        || message.senderDisplayName.size() != m_senderNameSize) {
        m_senderId = message.senderId.constData();
        m_senderIdSize = message.senderId.size();
        m_senderName = message.senderDisplayName.constData();
        m_senderNameSize = message.senderDisplayName.size();
        const QString key = message.senderId.isEmpty()
                                ? QLatin1Char('\n') + message.senderDisplayName
                                : message.senderId;
        const auto found = m_personOf.constFind(key);
        if (found != m_personOf.constEnd()) {
            m_sender = *found;
        } else {
            m_sender = m_people.size();
            m_personOf.insert(key, m_sender);
            m_people.push_back({&message, 0});
        }
    }
    ++m_people[m_sender].messages;
}

qint64 ArchiveStats::messages() const
{
    qint64 total = 0;
    for (const Conversation& c : m_conversations)
        total += c.messages;
    return total;
}

std::vector<MonthCount> ArchiveStats::months() const
{
    std::map<int, qint64> byMonth;
    for (const Conversation& c : m_conversations) {
        for (const MonthCount& m : c.months)
            byMonth[m.month] += m.messages;
    }
    std::vector<MonthCount> months;
    for (const auto& [month, messages] : byMonth)
        months.push_back({month, messages});
    return months;
}

std::vector<ArchiveStats::Person> ArchiveStats::busiestPeople(size_t count) const
{
    std::vector<size_t> order(m_people.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return m_people[a].messages > m_people[b].messages;
    });
    order.resize(std::min(count, order.size()));
    std::vector<Person> people;
    for (const size_t i : order) {
        const HistoryMessage& message = *m_people[i].first;
        QString name = senderShownName(m_history, message);
        if (name.isEmpty())
            name = QStringLiteral("Unknown sender");
        const bool own = !message.senderId.isEmpty() && isOwnUser(m_history, message.senderId);
        if (own)
            name += QStringLiteral(" (you)");
        people.push_back({name, m_people[i].messages, own});
    }
    // People of one name are told apart by their handles.
    for (size_t i = 0; i < people.size(); ++i) {
        const QString& id = m_people[order[i]].first->senderId;
        if (!id.isEmpty() && std::count_if(people.begin(), people.end(), [&](const Person& p) {
                                 return p.name == people[i].name;
                             }) > 1)
            people[i].handle = handleOfId(id);
    }
    for (Person& person : people) {
        if (!person.handle.isEmpty())
            person.name += QStringLiteral(" (%1)").arg(person.handle);
    }
    return people;
}

namespace {

// Characters the page may hold before the people and hours (some 45,000 more) are added.
constexpr qsizetype ChartsBudget = 230'000;

// "2024-11"
QString monthCode(int month)
{
    return QStringLiteral("%1-%2")
        .arg(month / 12, 4, 10, QLatin1Char('0'))
        .arg(month % 12 + 1, 2, 10, QLatin1Char('0'));
}

// A long name cut to fit beside its bar (not within a surrogate pair); the bar's title holds it
// whole.
QString shortName(const QString& name)
{
    constexpr qsizetype Most = 28;
    if (name.size() <= Most)
        return name;
    qsizetype cut = Most - 1;
    if (name[cut].isLowSurrogate())
        --cut;
    return name.left(cut) + QChar(u'\u2026');
}

QString percentText(qint64 part, qint64 whole)
{
    return QLocale().toString(whole > 0 ? 100.0 * double(part) / double(whole) : 0.0, 'f', 1)
           + u'%';
}

void openSvg(QString& out, int height, QStringView label)
{
    out += QLatin1StringView("<svg class=\"chart\" viewBox=\"0 0 720 ");
    out += QString::number(height);
    out += QLatin1StringView("\" role=\"img\" aria-label=\"");
    appendHtmlText(out, label);
    out += QLatin1StringView("\">");
}

void appendRect(QString& out, const char* cssClass, double x, double y, double width, double height,
                QStringView title)
{
    out += QLatin1StringView("<rect");
    if (*cssClass) {
        out += QLatin1StringView(" class=\"");
        out += QLatin1StringView(cssClass);
        out += u'"';
    }
    out += QLatin1StringView(" x=\"");
    appendUnits(out, x);
    out += QLatin1StringView("\" y=\"");
    appendUnits(out, y);
    out += QLatin1StringView("\" width=\"");
    appendUnits(out, width);
    out += QLatin1StringView("\" height=\"");
    appendUnits(out, height);
    out += QLatin1StringView("\"><title>");
    appendHtmlText(out, title);
    out += QLatin1StringView("</title></rect>");
}

// The busiest people as horizontal bars: the name, the bar, the count.
void appendPeople(QString& out, const ArchiveStats& stats, qint64 total)
{
    const std::vector<ArchiveStats::Person> people = stats.busiestPeople(ChartedPeople);
    if (people.empty())
        return;
    const QLocale locale;
    constexpr double Row = 22, NameEnd = 196, BarStart = 204, BarEnd = 640;
    const qint64 most = std::max<qint64>(1, people.front().messages);
    openSvg(out, int(Row * double(people.size())) + 4,
            QStringLiteral("The %1 people who wrote the most, the most first: %2 with %3")
                .arg(people.size())
                .arg(people.front().name, messagesText(people.front().messages)));
    qint64 shown = 0;
    for (size_t i = 0; i < people.size(); ++i) {
        const ArchiveStats::Person& person = people[i];
        shown += person.messages;
        const double y = 2 + Row * double(i);
        const double width =
            std::max(1.0, (BarEnd - BarStart) * double(person.messages) / double(most));
        appendText(out, "e n", NameEnd, y + 15, shortName(person.name));
        appendRect(out, person.own ? "own" : "", BarStart, y + 3, width, Row - 6,
                   QStringLiteral("%1: %2, %3 of all")
                       .arg(person.name, messagesText(person.messages),
                            percentText(person.messages, total)));
        appendText(out, "s", BarStart + width + 6, y + 15, locale.toString(person.messages));
    }
    out += QLatin1StringView("</svg>\n<p class=\"sub\">");
    if (stats.people() > people.size())
        appendHtmlText(
            out, QStringLiteral("The %1 busiest of %2 people; the others wrote %3.")
                     .arg(people.size())
                     .arg(locale.toString(qint64(stats.people())), messagesText(total - shown)));
    else
        appendHtmlText(out, stats.people() == 1
                                ? QStringLiteral("One person wrote.")
                                : QStringLiteral("Everyone who wrote: %1 people.")
                                      .arg(locale.toString(qint64(stats.people()))));
    out += QLatin1StringView("</p>\n");
}

// Messages by weekday (rows, in the locale's order of the week) and hour (columns) as shades.
void appendHours(QString& out, const ArchiveStats& stats)
{
    const QLocale locale;
    constexpr double Top = 16, LabelEnd = 36, CellStart = 40, Cell = 28, RowHeight = 22;
    const int firstDay = int(locale.firstDayOfWeek()) - 1; // 0 Monday
    qint64 most = 0;
    int busiestDay = 0, busiestHour = 0;
    std::array<qint64, 7> days = {};
    for (int day = 0; day < 7; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            days[size_t(day)] += stats.at(day, hour);
            if (stats.at(day, hour) > most) {
                most = stats.at(day, hour);
                busiestDay = day;
                busiestHour = hour;
            }
        }
    }
    const auto dayName = [&](int day) { return locale.dayName(day + 1, QLocale::LongFormat); };
    const auto hourText = [](int hour) {
        return QStringLiteral("%1:00\u2013%2:00")
            .arg(hour, 2, 10, QLatin1Char('0'))
            .arg(hour + 1, 2, 10, QLatin1Char('0'));
    };
    const QString busiest =
        most > 0 ? QStringLiteral("%1 %2, %3")
                       .arg(dayName(busiestDay), hourText(busiestHour), messagesText(most))
                 : QStringLiteral("none");
    openSvg(out, int(Top + 7 * RowHeight + 4),
            QStringLiteral("Messages by weekday and hour of the day in local time; the most: %1")
                .arg(busiest));
    for (int hour = 0; hour < 24; hour += 3)
        appendText(out, "m", CellStart + Cell * (hour + 0.5), Top - 4, QString::number(hour));
    for (int row = 0; row < 7; ++row) {
        const int day = (firstDay + row) % 7;
        const double y = Top + RowHeight * row;
        appendText(out, "e", LabelEnd, y + 15, locale.dayName(day + 1, QLocale::ShortFormat));
        for (int hour = 0; hour < 24; ++hour) {
            const qint64 count = stats.at(day, hour);
            // Six shades: none, then fifths of the busiest hour.
            const qint64 shade = most > 0 ? (count * 5 + most - 1) / most : 0;
            const char* shades[] = {"q0", "q1", "q2", "q3", "q4", "q5"};
            appendRect(
                out, shades[shade], CellStart + Cell * hour + 1, y + 1, Cell - 2, RowHeight - 2,
                QStringLiteral("%1 %2: %3").arg(dayName(day), hourText(hour), messagesText(count)));
        }
    }
    out += QLatin1StringView("</svg>\n<p class=\"sub\">");
    QString text =
        QStringLiteral("Local time (%1), the week from %2 as the locale begins it; "
                       "the stronger the colour, the more messages. The most: %3. By weekday: ")
            .arg(QString::fromUtf8(QTimeZone::systemTimeZoneId()), dayName(firstDay), busiest);
    for (int row = 0; row < 7; ++row) {
        const int day = (firstDay + row) % 7;
        text += QStringLiteral("%1%2 %3").arg(row == 0 ? QString() : QStringLiteral(", "),
                                              dayName(day), locale.toString(days[size_t(day)]));
    }
    appendHtmlText(out, text + u'.');
    out += QLatin1StringView("</p>\n");
}

} // namespace

void writeStatsPage(const QString& folder, const ChatHistory& history, const ArchiveStats& stats)
{
    const QLocale locale;
    const qint64 total = stats.messages();
    const std::vector<MonthCount> months = stats.months();
    QString out;
    appendPageHead(out, u"Chat history statistics", QLatin1StringView(""));
    out += QLatin1StringView("<nav><a href=\"index.html\">All conversations</a></nav>\n"
                             "<h1>Statistics</h1>\n<p class=\"sub\">");
    QString summary =
        QStringLiteral("%1 in %2")
            .arg(messagesText(total),
                 stats.conversations().size() == 1
                     ? QStringLiteral("1 conversation")
                     : QStringLiteral("%1 conversations")
                           .arg(locale.toString(qint64(stats.conversations().size()))));
    if (!months.empty())
        summary +=
            QStringLiteral(", %1 to %2, from %3 %4")
                .arg(monthCode(months.front().month), monthCode(months.back().month),
                     locale.toString(qint64(stats.people())),
                     stats.people() == 1 ? QStringLiteral("person") : QStringLiteral("people"));
    appendHtmlText(out, summary);
    out += QLatin1StringView("</p>\n<main class=\"stats\">\n");
    if (months.empty()) {
        out += QLatin1StringView("<p>No messages to count.</p>\n</main>\n");
        appendPageEnd(out);
        Utf8File file(folder + QStringLiteral("/stats.html"));
        file.append(out);
        file.finish();
        return;
    }
    const int first = months.front().month;
    const int last = months.back().month;

    out += QLatin1StringView("<h2>Messages per month</h2>\n");
    appendMonthChart(out, months, first, last, 200, u"Messages per month");
    const auto busiestMonth = std::max_element(
        months.begin(), months.end(),
        [](const MonthCount& a, const MonthCount& b) { return a.messages < b.messages; });
    out += QLatin1StringView("<p class=\"sub\">");
    appendHtmlText(out,
                   QStringLiteral("The most in %1: %2; %3 months with messages.")
                       .arg(monthText(busiestMonth->month), messagesText(busiestMonth->messages),
                            locale.toString(qint64(months.size()))));
    out += QLatin1StringView("</p>\n");

    // The busiest conversations only, so the page stays small however many there are; over a
    // very long span, fewer of them (each bar of a month costs some 80 bytes).
    std::vector<const ArchiveStats::Conversation*> busiest;
    for (const ArchiveStats::Conversation& c : stats.conversations()) {
        if (c.messages > 0)
            busiest.push_back(&c);
    }
    std::stable_sort(busiest.begin(), busiest.end(),
                     [](const auto* a, const auto* b) { return a->messages > b->messages; });
    const size_t withMessages = busiest.size();
    busiest.resize(std::min(busiest.size(), ChartedConversations));
    out += QLatin1StringView("<h2>The busiest conversations</h2>\n");
    qint64 charted = 0;
    size_t shown = 0;
    for (const ArchiveStats::Conversation* c : busiest) {
        if (shown >= 3 && out.size() + qsizetype(c->months.size()) * 80 + 1000 > ChartsBudget)
            break;
        ++shown;
        charted += c->messages;
        const QString name = chatShownName(history, c->chat);
        out += QLatin1StringView("<p class=\"chart-name\"><a href=\"");
        out += c->folder;
        out += QLatin1StringView("/index.html\" dir=\"auto\">");
        appendHtmlText(out, name);
        out += QLatin1StringView("</a> &middot; ");
        appendHtmlText(out, QStringLiteral("%1, %2 of all")
                                .arg(messagesText(c->messages), percentText(c->messages, total)));
        out += QLatin1StringView("</p>\n");
        appendMonthChart(out, c->months, first, last, 64,
                         QStringLiteral("%1: messages per month").arg(name));
    }
    if (withMessages > shown) {
        out += QLatin1StringView("<p class=\"sub\">");
        appendHtmlText(out, QStringLiteral("%1 more conversations hold %2. ")
                                .arg(locale.toString(qint64(withMessages - shown)),
                                     messagesText(total - charted)));
        out += QLatin1StringView("<a href=\"index.html\">All conversations</a></p>\n");
    }

    out += QLatin1StringView("<h2>The busiest people</h2>\n");
    appendPeople(out, stats, total);
    out += QLatin1StringView("<h2>Weekdays and hours</h2>\n");
    appendHours(out, stats);
    out += QLatin1StringView("</main>\n<nav><a href=\"index.html\">All conversations</a></nav>\n");
    appendPageEnd(out);
    Utf8File file(folder + QStringLiteral("/stats.html"));
    file.append(out);
    file.finish();
}

} // namespace velmoran
