#pragma once

#include <cstdint>
#include <string>

namespace velmoran::generator {

// What to generate. The same options always give the same bytes.
struct Options {
    std::uint64_t messages = 10000;
    std::uint64_t seed = 1;
    // Contacts with a one-to-one chat; 0 picks a number that grows with the messages.
    unsigned contacts = 0;
};

// messages.json of a data export: one-to-one chats, group chats and a bot, text in several
// scripts with emoji, markup and entities, calls and thread activity, some null display names.
std::string exportJson(const Options& options);

// The export as the client hands it out: a tar with messages.json and a media/ folder.
// Answers an error text, empty on success.
std::string writeExportTar(const std::string& path, const Options& options);
std::string writeExportJson(const std::string& path, const Options& options);

// A legacy database (main.db) with the same kinds of content. Replaces the file.
std::string writeLegacyDatabase(const std::string& path, const Options& options);

} // namespace velmoran::generator
