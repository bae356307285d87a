#include "bench_history.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <random>

namespace velmoran::bench {

namespace {

const std::array<const char16_t*, 6> Scripts = {
    u"the quick brown fox jumps over lazy dog meeting tomorrow coffee project deadline see you "
    u"later thanks call me when you are free sounds good weekend plans",
    u"привет как дела завтра встреча проект спасибо позвони мне когда будешь свободен хорошо",
    u"καλημέρα τι κάνεις αύριο συνάντηση ευχαριστώ τα λέμε αργότερα καλό σαββατοκύριακο",
    u"你好 明天 会议 项目 谢谢 晚上 见 咖啡 周末 计划 好的 没问题",
    u"مرحبا كيف حالك غدا اجتماع شكرا أراك لاحقا عطلة نهاية الأسبوع",
    u"😀 👍 🎉 ok lol 🙂 ❤️ haha 🚀 yes",
};

QStringList wordsOf(const char16_t* text)
{
    return QString::fromUtf16(text).split(u' ', Qt::SkipEmptyParts);
}

} // namespace

ChatHistoryPtr generateHistory(const HistoryOptions& options)
{
    std::mt19937_64 random(options.seed);
    auto uniform = [&](qint64 low, qint64 high) {
        return std::uniform_int_distribution<qint64>(low, high)(random);
    };
    std::vector<QStringList> scripts;
    for (const char16_t* text : Scripts)
        scripts.push_back(wordsOf(text));
    const QString me = QStringLiteral("Me Myself");
    const qint64 start2015 = QDateTime(QDate(2015, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();

    auto history = std::make_shared<ChatHistory>();
    history->chats.reserve(size_t(options.chats));
    qint64 left = options.messages;
    for (int i = 0; i < options.chats; ++i) {
        const QString handle = QStringLiteral("live:user%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        const QString peerName = QStringLiteral("User %1 Nowak").arg(i + 1);
        history->contacts << handle;
        HistoryChat chat{handle, {}};
        const qint64 count = left / (options.chats - i);
        left -= count;
        chat.messages.reserve(size_t(count));
        qint64 when = start2015 + uniform(0, 3LL * 365 * 86'400'000);
        for (qint64 k = 0; k < count; ++k) {
            when += uniform(1'000, 2 * 86'400'000 / 10);
            const QStringList& words = scripts[size_t(uniform(0, qint64(scripts.size()) - 1))];
            const qsizetype target = qsizetype(uniform(20, 200));
            QString body;
            body.reserve(target + 16);
            while (body.size() < target) {
                if (!body.isEmpty())
                    body += u' ';
                body += words[qsizetype(uniform(0, words.size() - 1))];
            }
            if (body.size() > target) {
                body.truncate(target);
                if (body.back().isHighSurrogate())
                    body.chop(1);
            }
            if (std::bernoulli_distribution(options.needleShare)(random)) {
                const qsizetype at = qsizetype(uniform(0, body.size() - Needle.size()));
                const qsizetype safe = at > 0 && body[at - 1].isHighSurrogate() ? at - 1 : at;
                body.replace(safe, Needle.size(), Needle);
                if (body.size() > safe + Needle.size()
                    && body[safe + Needle.size()].isLowSurrogate())
                    body.remove(safe + Needle.size(), 1);
            }
            body.squeeze();
            chat.messages.push_back({when, k % 2 ? me : peerName, body});
        }
        history->chats.push_back(std::move(chat));
    }
    return history;
}

bool writeMessagesJson(const ChatHistory& history, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray out = "{\"userId\":\"8:live:me\",\"conversations\":[\n";
    auto line = [](const QJsonObject& object) {
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    };
    for (size_t c = 0; c < history.chats.size(); ++c) {
        const HistoryChat& chat = history.chats[c];
        const QString id = QStringLiteral("8:") + chat.peerHandle;
        QByteArray head = line({{QStringLiteral("id"), id}});
        head.chop(1); // the object goes on with its message list
        out += (c ? ",\n" : "") + head + ",\"MessageList\":[\n";
        for (size_t k = 0; k < chat.messages.size(); ++k) {
            const HistoryMessage& m = chat.messages[k];
            if (k)
                out += ",\n";
            out += line({{QStringLiteral("from"), id},
                         {QStringLiteral("displayName"), m.senderDisplayName},
                         {QStringLiteral("originalarrivaltime"),
                          QDateTime::fromMSecsSinceEpoch(m.timestampMs, Qt::UTC)
                              .toString(Qt::ISODateWithMs)},
                         {QStringLiteral("messagetype"), QStringLiteral("RichText")},
                         {QStringLiteral("content"), m.body}});
            if (out.size() > (8 << 20)) {
                if (file.write(out) != out.size())
                    return false;
                out.clear();
            }
        }
        out += "]}";
    }
    out += "\n]}\n";
    return file.write(out) == out.size() && file.flush();
}

} // namespace velmoran::bench
