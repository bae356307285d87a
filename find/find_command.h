#pragma once

#include <QIODevice>
#include <QStringList>

namespace velmoran {

// velmoran-find: the window's search and its "Save Results As Text File" from the command line.
//
//   velmoran-find [--sample | HISTORY...] [--contact HANDLE]... [--ignore-case] [--output FILE] TEXT
//
// Runs with the given arguments (the program's name first). The results text, or the help and
// version texts, go to output unless --output names a file; errors go to errors, one line each.
// Both devices are handed over not yet open. Answers the exit status: 0 when rows were found,
// 1 when none were, 2 on an error (a usage error included).
int runFind(const QStringList& arguments, QIODevice& output, QIODevice& errors);

// A device over an already open file descriptor (standard output, standard error) that writes
// straight through, with the system's reason when a write fails.
class DescriptorDevice final : public QIODevice {
public:
    explicit DescriptorDevice(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    int m_descriptor;
};

} // namespace velmoran
