#include "find/history_overview.h"

#include "find/find_output.h"

#include <QDate>
#include <QMap>

#include <algorithm>
#include <map>

namespace velmoran {

namespace {

constexpr qint64 DayMs = 24 * 60 * 60 * 1000;

// The UTC year of a time; the last day asked is remembered, as messages come in time order.
class YearOfTime {
public:
    int operator()(qint64 utcMs)
    {
        const qint64 day = utcMs >= 0 ? utcMs / DayMs : (utcMs - DayMs + 1) / DayMs;
        if (!m_have || day != m_day) {
            m_have = true;
            m_day = day;
            m_year = QDate(1970, 1, 1).addDays(day).year();
        }
        return m_year;
    }

private:
    bool m_have = false;
    qint64 m_day = 0;
    int m_year = 0;
};

QString oneLine(QString text)
{
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

// Writes a record as a tab-separated line (Text) or a CSV record (Csv).
void appendRecord(QByteArray& out, OutputFormat format, const QStringList& values)
{
    const bool csv = format == OutputFormat::Csv;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += csv ? ',' : '\t';
        if (csv)
            appendCsvField(out, values[i]);
        else
            out += oneLine(values[i]).toUtf8();
    }
    out += csv ? "\r\n" : "\n";
}

// A JSON object of the named fields; the numeric ones as JSON numbers (null when empty).
void appendJsonNumberRecord(QByteArray& out, const QStringList& names, const QStringList& values,
                            const QList<bool>& numeric)
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        out += i > 0 ? "," : "{";
        appendJsonString(out, names[i]);
        out += ':';
        if (numeric[i] && !values[i].isEmpty())
            out += values[i].toLatin1();
        else if (numeric[i])
            out += "null";
        else
            appendJsonString(out, values[i]);
    }
    out += "}\n";
}

void appendRow(QByteArray& out, OutputFormat format, const QStringList& names,
               const QStringList& values, const QList<bool>& numeric)
{
    if (format == OutputFormat::JsonLines)
        appendJsonNumberRecord(out, names, values, numeric);
    else
        appendRecord(out, format, values);
}

void appendHeader(QByteArray& out, OutputFormat format, const QStringList& names)
{
    if (format == OutputFormat::Csv)
        appendRecord(out, format, names);
}

// Left-aligned or right-aligned columns of text separated by two blanks, lines ending in LF.
QByteArray alignedTable(const std::vector<QStringList>& lines, const QList<bool>& rightAligned)
{
    QList<qsizetype> widths(rightAligned.size(), 0);
    for (const QStringList& line : lines) {
        for (qsizetype i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], line[i].size());
    }
    QString text;
    for (const QStringList& line : lines) {
        QString row;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (i > 0)
                row += QStringLiteral("  ");
            const bool last = i + 1 == line.size();
            const QString cell = oneLine(line[i]);
            row += rightAligned[i] ? cell.rightJustified(widths[i])
                   : last          ? cell
                                   : cell.leftJustified(widths[i]);
        }
        while (row.endsWith(u' '))
            row.chop(1);
        text += row + u'\n';
    }
    return text.toUtf8();
}

} // namespace

bool writeConversationList(const ChatHistory& history, OutputFormat format, OutputSink sink)
{
    const QStringList names{QStringLiteral("conversation"),
                            QStringLiteral("kind"),
                            QStringLiteral("conversation_name"),
                            QStringLiteral("messages"),
                            QStringLiteral("first"),
                            QStringLiteral("last")};
    const QList<bool> numeric{false, false, false, true, false, false};
    appendHeader(sink.out, format, names);
    for (const HistoryChat& chat : history.chats) {
        QString first;
        QString last;
        if (!chat.messages.empty()) {
            const auto [low, high] =
                std::minmax_element(chat.messages.begin(), chat.messages.end(),
                                    [](const HistoryMessage& a, const HistoryMessage& b) {
                                        return a.timestampMs < b.timestampMs;
                                    });
            first = isoUtcTime(low->timestampMs);
            last = isoUtcTime(high->timestampMs);
        }
        appendRow(sink.out, format, names,
                  {chat.id, conversationKindText(chat.kind), chat.name,
                   QString::number(chat.messages.size()), first, last},
                  numeric);
        if (!sink.flush())
            return false;
    }
    return sink.flush();
}

bool writeStatistics(const std::vector<const HistoryChat*>& chats, const MessageFilter& filter,
                     OutputFormat format, OutputSink sink)
{
    struct Counted {
        const HistoryChat* chat;
        qint64 total = 0;
        std::map<int, qint64> years;
    };
    std::vector<Counted> counted;
    std::map<int, qint64> years;
    qint64 total = 0;
    YearOfTime yearOf;
    const bool filtered = !filter.isEmpty();
    for (const HistoryChat* chat : chats) {
        Counted c{chat, 0, {}};
        // Messages come in time order: runs of one year are counted together.
        int year = 0;
        qint64 run = 0;
        for (const HistoryMessage& message : chat->messages) {
            if (filtered && !filter.accepts(message))
                continue;
            const int y = yearOf(message.timestampMs);
            if (run > 0 && y != year) {
                c.years[year] += run;
                run = 0;
            }
            year = y;
            ++run;
        }
        if (run > 0)
            c.years[year] += run;
        for (const auto& [y, n] : c.years) {
            c.total += n;
            years[y] += n;
        }
        total += c.total;
        counted.push_back(std::move(c));
    }

    if (format != OutputFormat::Text) {
        const QStringList names{QStringLiteral("conversation"), QStringLiteral("conversation_name"),
                                QStringLiteral("kind"), QStringLiteral("year"),
                                QStringLiteral("messages")};
        const QList<bool> numeric{false, false, false, true, true};
        appendHeader(sink.out, format, names);
        for (const Counted& c : counted) {
            for (const auto& [y, n] : c.years) {
                appendRow(sink.out, format, names,
                          {c.chat->id, c.chat->name, conversationKindText(c.chat->kind),
                           QString::number(y), QString::number(n)},
                          numeric);
            }
            if (!sink.flush())
                return false;
        }
        return sink.flush();
    }

    std::vector<QStringList> lines;
    lines.push_back({QStringLiteral("Conversation"), QStringLiteral("Kind"),
                     QStringLiteral("Messages"), QStringLiteral("Name")});
    for (const Counted& c : counted) {
        lines.push_back({c.chat->id, conversationKindText(c.chat->kind), QString::number(c.total),
                         c.chat->name});
    }
    lines.push_back({QStringLiteral("Total"), QString(), QString::number(total), QString()});
    sink.out += alignedTable(lines, {false, false, true, false});
    sink.out += '\n';
    lines.clear();
    lines.push_back({QStringLiteral("Year"), QStringLiteral("Messages")});
    for (const auto& [y, n] : years)
        lines.push_back({QString::number(y), QString::number(n)});
    lines.push_back({QStringLiteral("Total"), QString::number(total)});
    sink.out += alignedTable(lines, {false, true});
    return sink.flush();
}

} // namespace velmoran
