// What reading an export's messages.json costs before any of it is searched, against ripgrep
// counting a text in the same file, in the same go: simdjson's on-demand parser, the file held
// in memory, walks every field of every message, taking each value's raw token; then the same
// walk unescaping every string. A search that tests what people read (markup decoded, entities
// and escapes resolved, timestamps formatted) costs at least the second. Prints medians.
//
// usage: bench_json_floor --json messages.json [--runs R] [--text TEXT]
#include "bench_figures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <simdjson.h>

#include <cstdio>
#include <vector>

using namespace velmoran;
namespace od = simdjson::ondemand;

namespace {

// Walks every field of every message; answers the messages seen, or -1 on a parse error.
long long walk(const simdjson::padded_string& json, bool unescape, size_t& bytes)
{
    od::parser parser;
    od::document doc;
    if (parser.iterate(json).get(doc))
        return -1;
    long long messages = 0;
    od::array conversations;
    if (doc["conversations"].get_array().get(conversations))
        return -1;
    for (auto conversation : conversations) {
        od::object fields;
        if (conversation.get_object().get(fields))
            return -1;
        for (auto field : fields) {
            std::string_view key;
            if (field.unescaped_key().get(key))
                return -1;
            if (key != "MessageList")
                continue;
            od::array list;
            if (field.value().get_array().get(list))
                return -1;
            for (auto message : list) {
                od::object members;
                if (message.get_object().get(members))
                    return -1;
                for (auto member : members) {
                    od::value value = member.value();
                    od::json_type type;
                    if (value.type().get(type))
                        return -1;
                    std::string_view text;
                    if (unescape && type == od::json_type::string) {
                        if (value.get_string().get(text))
                            return -1;
                    } else {
                        text = value.raw_json_token();
                    }
                    bytes += text.size();
                }
                ++messages;
            }
        }
    }
    return messages;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString file = bench::argumentAfter(arguments, QStringLiteral("--json"), QString());
    const int runs =
        bench::argumentAfter(arguments, QStringLiteral("--runs"), QStringLiteral("5")).toInt();
    const QString text =
        bench::argumentAfter(arguments, QStringLiteral("--text"), QStringLiteral("example"));
    if (file.isEmpty() || runs < 1) {
        std::fprintf(stderr, "usage: bench_json_floor --json messages.json [--runs R] "
                             "[--text TEXT]\n");
        return 2;
    }
    simdjson::padded_string json;
    if (simdjson::padded_string::load(file.toStdString()).get(json)) {
        std::fprintf(stderr, "bench_json_floor: cannot read %s\n", qPrintable(file));
        return 2;
    }
    const QString rg = QStandardPaths::findExecutable(QStringLiteral("rg"));
    std::vector<double> reference, raw, unescaped;
    long long messages = 0;
    for (int run = 0; run < runs; ++run) {
        if (!rg.isEmpty()) {
            QProcess process;
            QElapsedTimer timer;
            timer.start();
            process.start(rg,
                          {QStringLiteral("--count-matches"), QStringLiteral("-F"), text, file});
            process.waitForFinished(-1);
            reference.push_back(double(timer.nsecsElapsed()) / 1e9);
        }
        for (const bool unescape : {false, true}) {
            size_t bytes = 0;
            QElapsedTimer timer;
            timer.start();
            messages = walk(json, unescape, bytes);
            (unescape ? unescaped : raw).push_back(double(timer.nsecsElapsed()) / 1e9);
            if (messages < 0) {
                std::fprintf(stderr, "bench_json_floor: %s is no export\n", qPrintable(file));
                return 2;
            }
        }
    }
    const double ref = bench::median(reference);
    auto line = [&](const char* what, double seconds) {
        if (ref > 0)
            std::printf("  %-48s %7.3f s   %5.2f x rg\n", what, seconds, seconds / ref);
        else
            std::printf("  %-48s %7.3f s\n", what, seconds);
    };
    std::printf("%s: %lld messages, %.1f MiB; medians of %d runs\n", qPrintable(file), messages,
                double(json.size()) / (1 << 20), runs);
    if (ref > 0)
        std::printf("  %-48s %7.3f s\n", "reference rg --count-matches -F TEXT FILE", ref);
    line("walk every field, raw tokens (file in memory)", bench::median(raw));
    line("walk every field, strings unescaped", bench::median(unescaped));
    return 0;
}
