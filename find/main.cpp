// velmoran-find: searches a chat history from the command line; see find_command.h.
#include "find/find_command.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // A reader that goes away early (| head) shows as a failed write, which ends the run
    // quietly, rather than as a signal that kills the program.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmoran-find"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORAN_VERSION));
    velmoran::DescriptorDevice output(STDOUT_FILENO);
    velmoran::DescriptorDevice errors(STDERR_FILENO);
    return velmoran::runFind(QCoreApplication::arguments(), output, errors);
}
