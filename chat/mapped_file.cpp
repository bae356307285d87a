#include "chat/mapped_file.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmoran {

// A mapped range whose lost pages are replaced by zero pages when a read faults on them.
// Guards form a list the signal handler walks; the program has one thread, so the list only
// changes outside the handler.
struct MappedFile::Guard {
    char* begin = nullptr;
    size_t length = 0;
    volatile sig_atomic_t faulted = 0;
    Guard* next = nullptr;
};

namespace {

MappedFile::Guard* volatile guards = nullptr;
struct sigaction previousBusHandler;
bool busHandlerInstalled = false;

size_t pageSize()
{
    static const size_t size = size_t(sysconf(_SC_PAGESIZE));
    return size;
}

void onBusError(int signal, siginfo_t* info, void* context)
{
    char* const address = static_cast<char*>(info->si_addr);
    for (MappedFile::Guard* guard = guards; guard; guard = guard->next) {
        if (address < guard->begin || address >= guard->begin + guard->length)
            continue;
        // The file lost this page: read zeros from here on. The reader learns of it through
        // the guard and throws away what it read.
        const auto page = reinterpret_cast<uintptr_t>(address) & ~uintptr_t(pageSize() - 1);
        if (mmap(reinterpret_cast<void*>(page), pageSize(), PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
            == MAP_FAILED)
            break;
        guard->faulted = 1;
        return;
    }
    // Not a mapping of ours: what would have happened without this handler happens.
    if ((previousBusHandler.sa_flags & SA_SIGINFO) && previousBusHandler.sa_sigaction) {
        previousBusHandler.sa_sigaction(signal, info, context);
        return;
    }
    sigaction(SIGBUS, &previousBusHandler, nullptr);
    if (previousBusHandler.sa_handler != SIG_DFL && previousBusHandler.sa_handler != SIG_IGN)
        previousBusHandler.sa_handler(signal);
    // Returning faults again, now with the previous handling in place.
}

void installBusHandler()
{
    if (busHandlerInstalled)
        return;
    struct sigaction action = {};
    action.sa_sigaction = &onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, &previousBusHandler) == 0)
        busHandlerInstalled = true;
}

long long modifiedNs(const struct stat& info)
{
    return (long long)info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec;
}

} // namespace

MappedFile::MappedFile(const QString& path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        m_openError = errno;
        return;
    }
    struct stat info = {};
    if (fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return;
    m_size = size_t(info.st_size);
    m_modifiedNs = modifiedNs(info);
    const size_t page = pageSize();
    const size_t filePages = (m_size + page - 1) / page * page;
    // Zero pages first, the file mapped over their start: the page after the file stays zeros.
    const size_t total = filePages + page;
    void* whole = mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (whole == MAP_FAILED)
        return;
    if (mmap(whole, m_size, PROT_READ, MAP_PRIVATE | MAP_FIXED, m_fd, 0) == MAP_FAILED) {
        munmap(whole, total);
        return;
    }
    madvise(whole, m_size, MADV_SEQUENTIAL);
    m_data = static_cast<char*>(whole);
    m_capacity = total;
    installBusHandler();
    m_guard = new Guard{m_data, filePages, 0, guards};
    guards = m_guard;
}

MappedFile::~MappedFile()
{
    if (m_guard) {
        Guard* volatile* link = &guards;
        while (*link && *link != m_guard)
            link = &(*link)->next;
        if (*link)
            *link = m_guard->next;
        delete m_guard;
    }
    if (m_data)
        munmap(m_data, m_capacity);
    if (m_fd >= 0)
        ::close(m_fd);
}

void MappedFile::release(const char* upTo)
{
    if (!m_data || upTo <= m_data || upTo > m_data + m_size)
        return;
    const size_t end = size_t(upTo - m_data) / pageSize() * pageSize();
    if (end <= m_released)
        return;
    // The pages are the file's, never written: dropping them loses nothing.
    if (madvise(m_data + m_released, end - m_released, MADV_DONTNEED) == 0)
        m_released = end;
}

bool MappedFile::truncated() const
{
    return m_guard && m_guard->faulted;
}

bool MappedFile::changed() const
{
    return truncated() || sizeOrTimeChanged();
}

bool MappedFile::readFailed() const
{
    return truncated() && !sizeOrTimeChanged();
}

bool MappedFile::sizeOrTimeChanged() const
{
    struct stat info = {};
    if (m_fd < 0 || fstat(m_fd, &info) != 0)
        return true;
    return size_t(info.st_size) != m_size || modifiedNs(info) != m_modifiedNs;
}

} // namespace velmoran
