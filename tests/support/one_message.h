#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Histories holding a single message, for tests of what one message becomes.
namespace velmoran::test {

// The sender of the one message: id "live:anna", display name "Anna".
inline constexpr char16_t oneMessageSenderId[] = u"live:anna";
inline constexpr char16_t oneMessageSenderName[] = u"Anna";

// An export's messages.json with one group conversation holding one message of the given
// "messagetype" and "content", sent by Anna at 2023-05-01T10:00:00Z; properties, when not
// empty, is the JSON text of its "properties".
QByteArray exportWithOneMessage(const QString& type, const QString& content,
                                const QByteArray& properties = {});

// The SQL of an old client's database with one group conversation holding one message by Anna
// at the same time, with the Messages columns that tell what a message is. A null QVariant is
// NULL.
QByteArray legacyDatabaseWithOneMessage(const QVariant& type, const QVariant& body,
                                        const QVariant& identities, const QVariant& editedSeconds);

} // namespace velmoran::test
