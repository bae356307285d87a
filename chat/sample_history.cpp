#include "chat/sample_history.h"

#include "chat/person_names.h"

#include <QDateTime>

namespace velmoran {

namespace {

struct SampleChat {
    const char16_t* handle;
    const char16_t* name;
    std::initializer_list<const char16_t*> theirLines;
    std::initializer_list<const char16_t*> myLines;
};

const char16_t* const OwnName = u"Sam Carter";
const char16_t* const OwnId = u"sam.carter";

// Their lines and ours alternate; each list is walked round-robin.
const SampleChat SampleChats[] = {
    {u"anna.kowalska",
     u"Anna Kowalska",
     {u"Cześć! Jak się masz?", u"Lunch tomorrow at noon?", u"Zażółć gęślą jaźń — test klawiatury",
      u"The report is ready, sending it now.", u"Dziękuję bardzo!",
      u"<b>Important</b>: meeting moved to 3 pm", u"Did you see the new budget figures?",
      u"Wesołych Świąt 🎄"},
     {u"Hi Anna, all good here.", u"Sure, lunch works for me.", u"Thanks, got the report.",
      u"See you at the meeting.", u"Budget looks fine to me."}},
    {u"kenji.tanaka",
     u"田中 健二",
     {u"こんにちは！", u"来週の会議は火曜日です。", u"The server migration finished at 02:30.",
      u"ありがとうございます 🙏", u"東京は雨です ☔", u"Can you review pull request 42?",
      u"お疲れ様でした"},
     {u"Konnichiwa Kenji!", u"Tuesday is fine.", u"Great news about the migration.",
      u"Reviewing it now.", u"Have a good weekend."}},
    {u"olga.petrova",
     u"Ольга Петрова",
     {u"Привет! Как дела?", u"Отправила тебе файл с отчётом.", u"Lunch at the usual place?",
      u"С днём рождения! 🎂", u"Встреча в 10:00 в понедельник.", u"Спасибо за помощь!"},
     {u"Privet Olga, fine thanks.", u"Got the file, thank you.", u"Monday at ten, noted.",
      u"Happy to help.", u"LUNCH sounds good."}},
    {u"mohammed.haddad",
     u"محمد حداد",
     {u"مرحبا، كيف حالك؟", u"The invoice total is =SUM(A1:A9)", u"شكرا جزيلا",
      u"Flight lands at 18:45 tomorrow.", u"رمضان كريم 🌙", u"Let's catch up next week."},
     {u"Marhaba Mohammed!", u"I'll check the invoice.", u"Safe travels.", u"Next week works.",
      u"Thanks for the update."}},
    {u"lucia.fernandez",
     u"Lucía Fernández",
     {u"¡Hola! ¿Qué tal?", u"Mañana llego a las 9.", u"Γειά σου! Learning Greek now 😄",
      u"The café on the corner has great churros.", u"¡Feliz año nuevo! 🎉",
      u"Photos from the trip are in the shared folder."},
     {u"Hola Lucía!", u"See you tomorrow morning.", u"Impressive, keep going!", u"Churros it is.",
      u"Happy new year to you too!"}},
};

const char16_t* const FriendWithoutMessages = u"dave.miller";

QString text(const char16_t* s)
{
    return QString::fromUtf16(s);
}

template <typename List> const char16_t* nth(const List& list, size_t i)
{
    return *(list.begin() + (i % list.size()));
}

} // namespace

ChatHistoryPtr sampleHistory()
{
    auto history = std::make_shared<ChatHistory>();
    const QString ownName = text(OwnName);
    const QString ownId = text(OwnId);
    // Start of the history: 2019-03-04 08:15 UTC. Messages step forward by varied amounts so
    // they spread over several years and all times of day.
    const qint64 start = QDateTime(QDate(2019, 3, 4), QTime(8, 15), Qt::UTC).toMSecsSinceEpoch();
    const qint64 minute = 60 * 1000;

    int chatNumber = 0;
    for (const SampleChat& sample : SampleChats) {
        history->contacts << text(sample.handle);
        HistoryChat chat;
        chat.peerHandle = text(sample.handle);
        chat.id = QStringLiteral("8:") + chat.peerHandle;
        const QString theirName = text(sample.name);
        chat.name = theirName;
        chat.kind = ConversationKind::OneToOne;
        qint64 when = start + chatNumber * 97 * minute;
        for (size_t i = 0; i < 34; ++i) {
            const bool theirs = i % 2 == 0;
            HistoryMessage message;
            message.timestampMs = when;
            message.senderId = theirs ? chat.peerHandle : ownId;
            message.senderDisplayName = theirs ? theirName : ownName;
            message.body =
                text(theirs ? nth(sample.theirLines, i / 2) : nth(sample.myLines, i / 2));
            chat.messages.push_back(std::move(message));
            // Roughly two months apart, with a varying time of day.
            when += (61 * 24 * 60 + qint64((i * 37 + chatNumber * 11) % 720)) * minute;
        }
        history->chats.push_back(std::move(chat));
        ++chatNumber;
    }
    history->contacts << text(FriendWithoutMessages);

    // A few messages with the special cases the program must cope with.
    HistoryChat& anna = history->chats[0];
    anna.messages[5].senderDisplayName.clear();
    anna.messages[8].body.clear();
    // Exactly midnight UTC: shown with the date alone where the local time is UTC.
    HistoryMessage midnight;
    midnight.timestampMs = QDateTime(QDate(2024, 12, 31), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    midnight.senderId = anna.peerHandle;
    midnight.senderDisplayName = text(u"Anna Kowalska");
    midnight.body = text(u"Happy New Year's Eve! 🥂");
    anna.messages.push_back(std::move(midnight));

    // The group chat has no peer handle, so no contact ever reaches it.
    HistoryChat group;
    group.id = QStringLiteral("19:team-chat@thread.skype");
    group.name = QStringLiteral("Team chat");
    group.kind = ConversationKind::Group;
    const char16_t* const groupLines[] = {u"Welcome to the team chat!",
                                          u"Stand-up moved to 9:30.",
                                          u"Who has the projector key?",
                                          u"Пицца в пятницу?",
                                          u"金曜日はピザ！",
                                          u"Pizza on Friday 🍕",
                                          u"Lunch order closes at 11.",
                                          u"Release 2.1 is out.",
                                          u"Great work everyone!",
                                          u"Reminder: timesheets due today."};
    const char16_t* const groupNames[] = {u"Anna Kowalska", u"田中 健二", u"Ольга Петрова",
                                          u"Sam Carter", u"Lucía Fernández"};
    const char16_t* const groupIds[] = {u"anna.kowalska", u"kenji.tanaka", u"olga.petrova", OwnId,
                                        u"lucia.fernandez"};
    for (const char16_t* id : groupIds)
        group.members << QStringLiteral("8:") + text(id);
    qint64 when = start + 3 * 24 * 60 * minute;
    for (int i = 0; i < 22; ++i) {
        HistoryMessage message;
        message.timestampMs = when;
        message.senderId = text(groupIds[i % 5]);
        message.senderDisplayName = text(groupNames[i % 5]);
        message.body = text(groupLines[i % 10]);
        group.messages.push_back(std::move(message));
        when += qint64(83 * 24 * 60 + (i * 53) % 600) * minute;
    }
    history->chats.insert(history->chats.begin() + 2, std::move(group));
    history->ownUserId = text(OwnId);
    indexPeople(*history);
    return history;
}

} // namespace velmoran
