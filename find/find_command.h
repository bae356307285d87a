#pragma once

#include "chat/chat_history.h"

#include <QIODevice>
#include <QStringList>

namespace velmoran {

// velmoran-find: the window's search and its "Save Results As Text File" from the command line.
//
//   velmoran-find [OPTION]... [--sample | HISTORY...] TEXT
//   velmoran-find --list | --stats [OPTION]... [--sample | HISTORY...]
//
// Runs with the given arguments (the program's name first). The results text, or the help and
// version texts, go to output unless --output names a file; errors go to errors, one line each.
// Both devices are handed over not yet open. Answers the exit status: 0 when rows were found,
// 1 when none were, 2 on an error (a usage error included); --list and --stats answer 0 when
// they wrote their table. Output to a pipe whose reader has gone ends the run quietly.
int runFind(const QStringList& arguments, QIODevice& output, QIODevice& errors);
// The same over a history already loaded, which takes the place of the files and --sample.
int runFind(const QStringList& arguments, QIODevice& output, QIODevice& errors,
            ChatHistoryPtr history);

// A device over an already open file descriptor (standard output, standard error) that writes
// straight through, with the system's reason when a write fails. Made with a path instead, it
// opens that file for writing when opened, without truncating or replacing it (a FIFO, a
// device), and closes it when closed.
class DescriptorDevice final : public QIODevice {
public:
    explicit DescriptorDevice(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    explicit DescriptorDevice(const QString& path)
        : m_path(path)
    {
    }
    ~DescriptorDevice() override;
    bool isSequential() const override { return true; }
    bool open(OpenMode mode) override;
    void close() override;

    // True once a write found nobody reading any more (a closed pipe).
    bool readerGone() const { return m_readerGone; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    int m_descriptor = -1;
    QString m_path;
    bool m_readerGone = false;
};

} // namespace velmoran
