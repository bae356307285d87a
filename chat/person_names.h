#pragma once

#include "chat/chat_history.h"

namespace velmoran {

// One name per person over a whole history, and one distinct name per chat, for the views that
// show people and chats (the conversation window). The main window's search and the files it
// writes keep each message's own sender name.
//
// A person's name is the latest display name their id used in any message (a name that is only
// the id does not count), else the name history.personNames already gives them (a contact's or
// the account's name), else the name of the one-to-one chat held with them, else their handle.
// A chat's name: for a one-to-one chat its partner's name; for a bot the chat's name, else the
// name its messages give the bot, else the bot's handle; for others the chat's name. Chats of
// one name are told apart in history order: "Team", "Team (2)", "Team (3)".
//
// Fills history.personNames (one entry per sender, member, partner and named contact) and
// history.chatNames. Readers' callers (readHistoryFile, mergeHistories) and the sample call it
// once the history is whole.
void indexPeople(ChatHistory& history);

// The id's handle: without the "8:" of ordinary accounts or the "28:" of bots ("8:live:anna"
// gives "live:anna", "28:concierge" gives "concierge").
QString handleOfId(const QString& id);

// The one name of senderId (with or without "8:"); its handle when the history has no name for
// it.
QString personName(const ChatHistory& history, const QString& senderId);

// Whether senderId (with or without "8:") is the history's own user.
bool isOwnUser(const ChatHistory& history, const QString& senderId);

// The name chat number chat is shown by; without indexPeople, its own name, else its partner's
// handle, else its id.
QString chatShownName(const ChatHistory& history, size_t chat);

} // namespace velmoran
