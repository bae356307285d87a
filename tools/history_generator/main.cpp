// velmoran-generate-history: writes made-up chat histories of any size for tests and
// benchmarks. The same options always give the same files.
#include "history_generator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fputs("usage: velmoran-generate-history [--messages N] [--seed S] [--contacts C]\n"
               "                                 [--tar FILE] [--json FILE] [--db FILE]\n"
               "Writes a data export (.tar with messages.json, or messages.json alone) and/or a\n"
               "legacy database (main.db) holding N made-up messages.\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    velmoran::generator::Options options;
    std::string tar, json, db;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (i + 1 >= argc)
            return usage();
        const char* value = argv[++i];
        if (!std::strcmp(option, "--messages"))
            options.messages = std::strtoull(value, nullptr, 10);
        else if (!std::strcmp(option, "--seed"))
            options.seed = std::strtoull(value, nullptr, 10);
        else if (!std::strcmp(option, "--contacts"))
            options.contacts = unsigned(std::strtoul(value, nullptr, 10));
        else if (!std::strcmp(option, "--tar"))
            tar = value;
        else if (!std::strcmp(option, "--json"))
            json = value;
        else if (!std::strcmp(option, "--db"))
            db = value;
        else
            return usage();
    }
    if (tar.empty() && json.empty() && db.empty())
        return usage();
    std::string error;
    if (error.empty() && !tar.empty())
        error = velmoran::generator::writeExportTar(tar, options);
    if (error.empty() && !json.empty())
        error = velmoran::generator::writeExportJson(json, options);
    if (error.empty() && !db.empty())
        error = velmoran::generator::writeLegacyDatabase(db, options);
    if (!error.empty()) {
        std::fprintf(stderr, "velmoran-generate-history: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
