#pragma once

#include "chat/chat_history.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace velmoran {

// The shared files of an archive: each file the history's exports hold copied once into the
// archive's media folder, under a name the program makes ("media/f000001.jpg"). Export
// members are found and taken out only through chat/shared_file_archive.h.
class MediaFiles {
public:
    enum class State { Copied, Missing, NotIncluded };
    struct Entry {
        State state = State::Missing;
        QString path;         // relative to the archive's root; "" unless copied
        bool picture = false; // a picture a browser shows (told by its first bytes)
    };

    // sources: the history's files (the exports among them are looked in); root: the
    // archive's folder; copy false leaves every file out (NotIncluded).
    MediaFiles(const QStringList& sources, const QString& root, bool copy);

    // Copies the files the archive will show, in one walk over each export (place() would
    // walk an export once per file); place() then only looks them up. pace is called between
    // pieces of the work; an answer false stops it, and prepare answers false.
    bool prepare(const std::vector<SharedFile>& files, const std::function<bool()>& pace = {});

    // Where the file of a message is in the archive, copying it on first use. Throws Failure
    // when an export cannot be read or the copy cannot be written.
    const Entry& place(const SharedFile& file);

    qsizetype copied() const { return m_copied; }

private:
    // The path a copy is taken out to, "media/f000001" without its extension.
    QString newCopyPath();
    // Gives the copy taken out to taken its extension (a picture's by its first bytes, else a
    // kept one of its name) and answers its path relative to the archive's root.
    QString nameCopy(const QString& taken, const QString& member, const QString& fileName,
                     bool* picture);

    std::vector<QString> m_exports;
    QString m_root;
    bool m_copy;
    // By object id and name, and by export member, so a file is copied once.
    QHash<QString, Entry> m_byFile;
    QHash<QString, Entry> m_byMember;
    qsizetype m_copied = 0;
};

} // namespace velmoran
