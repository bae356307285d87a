#include "history_generator.h"

#include <archive.h>
#include <archive_entry.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string_view>
#include <vector>

namespace velmoran::generator {

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed)
        : m_state(seed)
    {
    }
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 <= result < bound
    std::uint64_t below(std::uint64_t bound) { return bound == 0 ? 0 : next() % bound; }
    bool chance(unsigned percent) { return below(100) < percent; }
    template <typename T, size_t N> const T& pick(const std::array<T, N>& items)
    {
        return items[below(N)];
    }

private:
    std::uint64_t m_state;
};

constexpr std::array<std::string_view, 16> givenNames{
    "Anna", "Jan",     "Zoë",   "Liam", "Olga",   "Иван",   "Мария", "李",
    "王",   "Γιώργος", "Ελένη", "محمد", "Fatima", "Sørina", "Noah",  "Aiko"};
constexpr std::array<std::string_view, 16> familyNames{
    "Kowalska",     "Nowak", "O'Brien", "Müller",    "Петров", "Смирнова", "伟",     "芳",
    "Παπαδόπουλος", "علي",   "Haddad",  "Lindqvist", "García", "Tanaka",   "Dubois", "Rossi"};
constexpr std::array<std::string_view, 16> handleStems{
    "anna", "jan",     "zoe",   "liam",     "olga",   "ivan",   "maria", "li",
    "wang", "giorgos", "eleni", "mohammed", "fatima", "sorina", "noah",  "aiko"};

constexpr std::array<std::string_view, 24> phrases{
    "Are we still on for tomorrow?",
    "I'll send the report tonight, promise.",
    "Did you see the match yesterday",
    "ok",
    "Thanks a lot!",
    "Can you call me back when you're free",
    "The meeting moved to 3 pm",
    "Dzięki, do zobaczenia jutro",
    "Schönen Abend noch, grüß alle",
    "Привет, как дела?",
    "Созвонимся вечером",
    "Καλημέρα σε όλους",
    "明天见",
    "ありがとうございます",
    "شكرا جزيلا",
    "¿Vienes a la fiesta el sábado?",
    "😀",
    "👍👍",
    "🎉 congrats!!",
    "❤️",
    "lol",
    "brb 5 min",
    "Happy birthday 🎂",
    "That costs 12 € now, not 10 €",
};

struct Person {
    std::string handle;
    std::string name;
};

enum class Kind { Dialog, Group, Bot };

struct Conversation {
    Kind kind;
    std::string id;       // export id: "8:…", "19:…@thread.skype", "28:…"
    std::string identity; // legacy identity
    std::vector<size_t> members;
    std::uint64_t messages = 0;
    std::int64_t startMs = 0;
};

struct World {
    std::vector<Person> people; // people[0] is the user
    std::vector<Conversation> conversations;
    size_t contacts = 0;
};

World makeWorld(const Options& options, Random& random)
{
    World world;
    world.contacts = options.contacts
                         ? options.contacts
                         : size_t(std::clamp<std::uint64_t>(options.messages / 2000, 8, 500));
    world.people.push_back({"me.myself", "Me Myself"});
    const size_t strangers = world.contacts / 2 + 2;
    for (size_t i = 0; i < world.contacts + strangers; ++i) {
        const size_t given = random.below(givenNames.size());
        Person person;
        person.handle = std::string(handleStems[given]) + "." + std::to_string(i + 1);
        person.name = std::string(givenNames[given]) + " " + std::string(random.pick(familyNames));
        world.people.push_back(std::move(person));
    }
    for (size_t i = 1; i <= world.contacts; ++i)
        world.conversations.push_back(
            {Kind::Dialog, "8:" + world.people[i].handle, world.people[i].handle, {0, i}});
    const size_t groups = std::max<size_t>(2, world.contacts / 10);
    for (size_t g = 0; g < groups; ++g) {
        Conversation group{Kind::Group,
                           "19:" + std::to_string(100000 + g * 7919) + "abcdef@thread.skype",
                           "#" + world.people[1 + g % world.contacts].handle + "/$"
                               + std::to_string(g) + "f00d",
                           {0}};
        const size_t size = 3 + random.below(6);
        for (size_t m = 0; m < size; ++m)
            group.members.push_back(1 + random.below(world.people.size() - 1));
        world.conversations.push_back(std::move(group));
    }
    world.people.push_back({"concierge", "Concierge"});
    world.conversations.push_back(
        {Kind::Bot, "28:concierge", "concierge", {0, world.people.size() - 1}});

    // Most messages are with a few close contacts; groups take about a quarter.
    for (std::uint64_t i = 0; i < options.messages; ++i) {
        const std::uint64_t roll = random.below(100);
        size_t index;
        if (roll < 75) {
            const double u = double(random.below(1 << 20)) / double(1 << 20);
            index = size_t(double(world.contacts) * u * u);
        } else if (roll < 98) {
            index = world.contacts + random.below(groups);
        } else {
            index = world.conversations.size() - 1;
        }
        ++world.conversations[index].messages;
    }
    const std::int64_t from2014 = 1388534400000LL;
    for (Conversation& c : world.conversations)
        c.startMs = from2014 + std::int64_t(random.below(3ULL * 365 * 24 * 3600 * 1000));
    return world;
}

std::string formatTime(std::int64_t ms, unsigned fractionDigits)
{
    using namespace std::chrono;
    const sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(ms)));
    const year_month_day date(day);
    const std::int64_t inDay = ms - day.time_since_epoch().count() * 86400000LL;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(inDay / 3600000),
                  int(inDay / 60000 % 60), int(inDay / 1000 % 60));
    std::string result = text;
    if (fractionDigits > 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", int(inDay % 1000));
        result.append(fraction, 1 + fractionDigits);
    }
    result += 'Z';
    return result;
}

std::string sentence(Random& random)
{
    std::string text(random.pick(phrases));
    const std::uint64_t extra = random.below(7);
    for (std::uint64_t i = 0; i < extra; ++i) {
        text += ' ';
        text += random.pick(phrases);
    }
    return text;
}

// Escapes text for markup, as the client stores text typed by the user.
std::string escapeMarkup(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else
            out += c;
    }
    return out;
}

std::string richText(Random& random, const Person& author, std::int64_t ms)
{
    std::string text = escapeMarkup(sentence(random));
    switch (random.below(10)) {
    case 0:
        text = "<b>" + text + "</b>";
        break;
    case 1:
        text += " <a href=\"https://example.com/p?id=" + std::to_string(ms % 9973)
                + "&amp;s=1\">https://example.com/p?id=" + std::to_string(ms % 9973)
                + "&amp;s=1</a>";
        break;
    case 2:
        text += " <ss type=\"smile\">:)</ss>";
        break;
    case 3:
        text = "<quote author=\"" + author.handle + "\" authorname=\"" + escapeMarkup(author.name)
               + "\" timestamp=\"" + std::to_string(ms / 1000 - 60) + "\"><legacyquote>["
               + std::to_string(ms / 1000 - 60) + "] " + escapeMarkup(author.name)
               + ": </legacyquote>" + escapeMarkup(sentence(random))
               + "<legacyquote>\n\n&lt;&lt;&lt; </legacyquote></quote>" + text;
        break;
    case 4:
        text += " &lt;3 &#39;quoted&#39; &#x1F600;";
        break;
    default:
        break;
    }
    if (random.chance(5))
        text += "<e_m ts=\"" + std::to_string(ms / 1000) + "\" ts_ms=\"" + std::to_string(ms)
                + "\" a=\"" + author.handle + "\" t=\"61\"></e_m>";
    return text;
}

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    out += '"';
}

struct Message {
    std::int64_t ms;
    size_t sender;
    std::string type;    // export message type
    std::string content; // export content, markup
};

Message makeMessage(Random& random, const World& world, const Conversation& c, std::int64_t ms)
{
    Message m{ms, c.members[random.below(c.members.size())], "RichText", {}};
    const Person& sender = world.people[m.sender];
    const std::uint64_t roll = random.below(100);
    if (roll < 15) {
        m.type = "Text";
        m.content = sentence(random);
    } else if (roll < 88) {
        m.content = richText(random, sender, ms);
    } else if (roll < 92) {
        m.type = "RichText/UriObject";
        m.content =
            "<URIObject type=\"Picture.1\" uri=\"https://media.example.com/objects/0-"
            + std::to_string(ms % 100000) + "\"><OriginalName v=\"IMG_" + std::to_string(ms % 10000)
            + ".jpg\"/>To view this shared photo, go to: <a href=\"https://media.example.com/s/"
            + std::to_string(ms % 100000) + "\">https://media.example.com/s/"
            + std::to_string(ms % 100000) + "</a></URIObject>";
    } else if (roll < 97 || c.kind != Kind::Group) {
        m.type = "Event/Call";
        m.content = "<partlist type=\"ended\" alt=\"\"><part identity=\"" + sender.handle
                    + "\"><name>" + escapeMarkup(sender.name) + "</name><duration>"
                    + std::to_string(random.below(3600)) + "</duration></part></partlist>";
    } else {
        m.type = "ThreadActivity/AddMember";
        m.content = "<addmember><eventtime>" + std::to_string(ms)
                    + "</eventtime><initiator>8:" + sender.handle + "</initiator><target>8:"
                    + world.people[c.members.back()].handle + "</target></addmember>";
    }
    return m;
}

// Walks the messages of every conversation in time order.
template <typename Visit> void forEachMessage(const World& world, Random& random, Visit visit)
{
    for (const Conversation& c : world.conversations) {
        std::int64_t ms = c.startMs;
        for (std::uint64_t i = 0; i < c.messages; ++i) {
            // Bursts of chat, then hours or days of quiet.
            ms += random.chance(80) ? std::int64_t(random.below(300000))
                                    : std::int64_t(random.below(5ULL * 86400000));
            visit(c, makeMessage(random, world, c, ms));
        }
    }
}

std::string writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    file.close();
    return file ? std::string() : "cannot write " + path;
}

} // namespace

std::string exportJson(const Options& options)
{
    Random random(options.seed);
    const World world = makeWorld(options, random);
    // What only the export writes draws from a stream of its own, so the export and the
    // database of one seed hold the same messages.
    Random decoration(options.seed ^ 0x5DEECE66DULL);
    std::string out;
    out.reserve(size_t(options.messages) * 400 + 4096);
    out += "{\"userId\":\"8:me.myself\",\"exportDate\":\"2024-05-01T10:00\",\"conversations\":[";
    bool firstConversation = true;
    const Conversation* open = nullptr;
    std::uint64_t inOpen = 0;
    auto openConversation = [&](const Conversation& c) {
        out += firstConversation ? "" : "]},";
        firstConversation = false;
        out += "{\"id\":";
        appendJsonString(out, c.id);
        out += ",\"displayName\":";
        if (c.kind == Kind::Group)
            appendJsonString(out, "Group " + c.identity);
        else
            out += "null";
        out += ",\"version\":1,\"properties\":{\"conversationblocked\":false,"
               "\"lastimreceivedtime\":null},"
               "\"threadProperties\":";
        out += c.kind == Kind::Group
                   ? "{\"membercount\":" + std::to_string(c.members.size()) + ",\"topic\":\"Team\"}"
                   : "null";
        out += ",\"MessageList\":[";
        open = &c;
        inOpen = 0;
    };
    for (const Conversation& c : world.conversations) {
        if (c.messages == 0)
            openConversation(c);
    }
    forEachMessage(world, random, [&](const Conversation& c, const Message& m) {
        if (open != &c)
            openConversation(c);
        if (inOpen++ > 0)
            out += ',';
        const Person& sender = world.people[m.sender];
        // Times mostly carry milliseconds; some fewer digits, as the export writes them.
        const std::uint64_t digits = decoration.below(20);
        const unsigned fraction = digits < 17 ? 3 : unsigned(digits - 17);
        out += "{\"id\":\"" + std::to_string(m.ms) + "\",\"displayName\":";
        if (decoration.chance(10))
            out += "null";
        else
            appendJsonString(out, sender.name);
        out += ",\"originalarrivaltime\":\"" + formatTime(m.ms, fraction) + "\",\"messagetype\":\""
               + m.type + "\",\"version\":" + std::to_string(m.ms) + ",\"content\":";
        appendJsonString(out, m.content);
        out += ",\"conversationid\":";
        appendJsonString(out, c.id);
        out += ",\"from\":\"8:" + sender.handle + "\",\"properties\":null,\"amsreferences\":null}";
    });
    out += firstConversation ? "]}" : "]}]}";
    return out;
}

std::string writeExportJson(const std::string& path, const Options& options)
{
    return writeFile(path, exportJson(options));
}

std::string writeExportTar(const std::string& path, const Options& options)
{
    const std::string json = exportJson(options);
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   archive_write_free);
    archive_write_set_format_pax_restricted(writer.get());
    if (archive_write_open_filename(writer.get(), path.c_str()) != ARCHIVE_OK)
        return "cannot write " + path;
    struct Member {
        std::string name;
        std::string_view content;
        bool folder;
    };
    const std::string photo(2048, '\x42');
    const Member members[] = {
        {"media/", {}, true},
        {"media/0-weu-d1-a1b2c3.1.jpg", photo, false},
        {"messages.json", json, false},
    };
    for (const Member& member : members) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            archive_entry_free);
        archive_entry_set_pathname(entry.get(), member.name.c_str());
        archive_entry_set_filetype(entry.get(), member.folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry.get(), member.folder ? 0755 : 0644);
        archive_entry_set_size(entry.get(), la_int64_t(member.content.size()));
        archive_entry_set_mtime(entry.get(), 1714557600, 0);
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            return std::string("cannot write ") + path + ": " + archive_error_string(writer.get());
        if (!member.content.empty()
            && archive_write_data(writer.get(), member.content.data(), member.content.size())
                   != la_ssize_t(member.content.size()))
            return std::string("cannot write ") + path + ": " + archive_error_string(writer.get());
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return "cannot write " + path;
    return {};
}

std::string writeLegacyDatabase(const std::string& path, const Options& options)
{
    std::remove(path.c_str());
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open(path.c_str(), &raw);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
    if (opened != SQLITE_OK)
        return "cannot create " + path;
    auto run = [&](const char* sql) {
        return sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    if (!run("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
             "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, is_permanent INTEGER, skypename TEXT, "
             "fullname TEXT,"
             " displayname TEXT, buddystatus INTEGER);"
             "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, is_permanent INTEGER, identity "
             "TEXT, type INTEGER,"
             " displayname TEXT, creation_timestamp INTEGER);"
             "CREATE TABLE Messages (id INTEGER PRIMARY KEY, is_permanent INTEGER, convo_id "
             "INTEGER, chatname TEXT,"
             " author TEXT, from_dispname TEXT, timestamp INTEGER, type INTEGER, chatmsg_type "
             "INTEGER, body_xml TEXT);"))
        return std::string("cannot create tables: ") + sqlite3_errmsg(db.get());

    Random random(options.seed);
    const World world = makeWorld(options, random);
    Random decoration(options.seed ^ 0x2545F4914F6CDD1DULL);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db.get(), "INSERT INTO Contacts VALUES (?, ?, ?, ?, ?, ?)", -1, &statement,
                       nullptr);
    // Every contact is a buddy; a few people of group chats are recorded but not buddies.
    for (size_t i = 1; i < world.people.size(); ++i) {
        const bool buddy = i <= world.contacts;
        sqlite3_bind_int64(statement, 1, std::int64_t(i));
        sqlite3_bind_int(statement, 2, buddy ? 1 : 0);
        sqlite3_bind_text(statement, 3, world.people[i].handle.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 4, world.people[i].name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 5, world.people[i].name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(statement, 6, buddy ? 2 : 0);
        sqlite3_step(statement);
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);

    sqlite3_prepare_v2(db.get(), "INSERT INTO Conversations VALUES (?, 1, ?, ?, ?, ?)", -1,
                       &statement, nullptr);
    for (size_t i = 0; i < world.conversations.size(); ++i) {
        const Conversation& c = world.conversations[i];
        sqlite3_bind_int64(statement, 1, std::int64_t(i + 1));
        sqlite3_bind_text(statement, 2, c.identity.c_str(), -1, SQLITE_TRANSIENT);
        // Only chats with a contact are dialogs; the bot is no contact.
        sqlite3_bind_int(statement, 3, c.kind == Kind::Dialog ? 1 : 2);
        sqlite3_bind_text(statement, 4, c.identity.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(statement, 5, c.startMs / 1000);
        sqlite3_step(statement);
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);

    sqlite3_prepare_v2(db.get(), "INSERT INTO Messages VALUES (NULL, 1, ?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &statement, nullptr);
    forEachMessage(world, random, [&](const Conversation& c, const Message& m) {
        const Person& sender = world.people[m.sender];
        const bool call = m.type == "Event/Call";
        const bool activity = m.type.starts_with("ThreadActivity");
        sqlite3_bind_int64(statement, 1, std::int64_t(&c - world.conversations.data()) + 1);
        sqlite3_bind_text(statement, 2, c.identity.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 3, sender.handle.c_str(), -1, SQLITE_TRANSIENT);
        if (decoration.chance(10))
            sqlite3_bind_null(statement, 4);
        else
            sqlite3_bind_text(statement, 4, sender.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(statement, 5, m.ms / 1000);
        sqlite3_bind_int(statement, 6, call ? 30 : activity ? 10 : 61);
        sqlite3_bind_int(statement, 7, call || activity ? 0 : 3);
        if (call || activity)
            sqlite3_bind_null(statement, 8);
        else
            sqlite3_bind_text(statement, 8, m.content.c_str(), int(m.content.size()),
                              SQLITE_TRANSIENT);
        sqlite3_step(statement);
        sqlite3_reset(statement);
    });
    sqlite3_finalize(statement);
    if (!run("COMMIT;"))
        return std::string("cannot write ") + path + ": " + sqlite3_errmsg(db.get());
    return {};
}

} // namespace velmoran::generator
