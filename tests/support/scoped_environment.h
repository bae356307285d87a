#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velmoran::test {

// Sets an environment variable for the lifetime of the object, then restores it (or removes it
// when it was not set).
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    QByteArray m_old;
    bool m_wasSet;
};

// Stand-ins for outside programs (decompressors, openers), first in PATH while the object
// lives: each only logs that it was started and passes its input through.
class LoggingPrograms {
public:
    // Writes the stand-ins into folder (made if missing).
    LoggingPrograms(const QString& folder, const QStringList& names);

    bool ok() const { return m_ok; }
    // What was started, one line each ("path arguments"); "" when nothing was.
    QString started() const;

private:
    QString m_log;
    bool m_ok = false;
    ScopedEnvironment m_path;
};

} // namespace velmoran::test
