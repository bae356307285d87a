// velmoran-find: searches a chat history from the command line; see find_command.h.
#include "find/find_command.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmoran-find"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORAN_VERSION));
    velmoran::DescriptorDevice output(STDOUT_FILENO);
    velmoran::DescriptorDevice errors(STDERR_FILENO);
    return velmoran::runFind(QCoreApplication::arguments(), output, errors);
}
