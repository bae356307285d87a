#pragma once

#include <QString>

#include <cstddef>

namespace velmoran {

// A regular file mapped read-only (private, never written back) so a reader can parse it in
// place instead of copying it into memory. The mapping is followed by at least one page of
// readable zero bytes, so parsers that read a little past the end of their input (simdjson
// needs SIMDJSON_PADDING bytes) can run over any part of the file up to its end.
//
// A file that another program truncates while it is mapped would make reading its lost pages
// crash the process (SIGBUS), as would a page the disk fails to read. While a MappedFile
// exists, such a read gets zero pages instead, and truncated() tells the reader afterwards that
// what it read is not the file; readFailed() tells the disk's failure from a cut. changed()
// also tells of a file whose size or modification time is no longer what it was when mapped.
// A file that is rewritten in place without a change of size or time is not noticed.
class MappedFile {
public:
    // Maps path; answers a MappedFile that is not valid() when the file is no regular file or
    // cannot be mapped (the caller then reads it as it would without a mapping). errorNumber
    // is set to errno when the file cannot even be opened.
    explicit MappedFile(const QString& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool valid() const { return m_data != nullptr; }
    int openError() const { return m_openError; }
    const char* data() const { return m_data; }
    size_t size() const { return m_size; }
    // Readable bytes from data() on: the file and the zero bytes after it.
    size_t capacity() const { return m_capacity; }

    // Tells that the file's bytes before upTo will not be read again soon, so their pages stop
    // counting as the process's memory (a read of them later maps them again from the file).
    // A position outside the file, or not past what was released before, does nothing.
    void release(const char* upTo);

    bool truncated() const;
    // Whether the file was truncated or its size or modification time differs from when it
    // was mapped.
    bool changed() const;
    // Whether a read got zeros for a page while the file kept its size and modification time:
    // the disk failed to read it (an input/output error); the file was not cut.
    bool readFailed() const;

    // The fault guard of a mapping; its details are the mapping's own.
    struct Guard;

private:
    bool sizeOrTimeChanged() const;

    int m_fd = -1;
    int m_openError = 0;
    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_released = 0;
    long long m_modifiedNs = 0;
    Guard* m_guard = nullptr;
};

} // namespace velmoran
