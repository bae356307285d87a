#include "scoped_environment.h"

#include "history_files.h"

#include <QDir>
#include <QFile>

namespace velmoran::test {

ScopedEnvironment::ScopedEnvironment(const char* name, const QByteArray& value)
    : m_name(name)
    , m_old(qgetenv(name))
    , m_wasSet(qEnvironmentVariableIsSet(name))
{
    qputenv(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (m_wasSet)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

namespace {

QString logIn(const QString& folder)
{
    return folder + QStringLiteral("/started.log");
}

} // namespace

LoggingPrograms::LoggingPrograms(const QString& folder, const QStringList& names)
    : m_log(logIn(folder))
    , m_path("PATH", QFile::encodeName(folder) + ':' + qgetenv("PATH"))
{
    m_ok = QDir().mkpath(folder);
    for (const QString& name : names) {
        const QString path = folder + u'/' + name;
        m_ok =
            m_ok
            && writeBytes(path,
                          "#!/bin/sh\necho \"$0 $*\" >>'" + QFile::encodeName(m_log) + "'\ncat\n")
            && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

QString LoggingPrograms::started() const
{
    QFile log(m_log);
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

} // namespace velmoran::test
