// velmoran-archive: writes a chat history as a readable archive; see archive_command.h.
#include "find/archive_command.h"
#include "find/find_command.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

int main(int argc, char* argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmoran-archive"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORAN_VERSION));
    velmoran::stopArchiveOnSignals();
    velmoran::DescriptorDevice output(STDOUT_FILENO);
    velmoran::DescriptorDevice errors(STDERR_FILENO);
    return velmoran::runArchive(QCoreApplication::arguments(), output, errors,
                                ::isatty(STDERR_FILENO) == 1);
}
