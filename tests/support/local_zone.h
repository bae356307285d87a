#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

namespace velmoran::test {

// Switches the process's local time zone (TZ) for the lifetime of the object.
class LocalZone {
public:
    explicit LocalZone(const QByteArray& zone)
        : m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone()
    {
        if (m_old.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_old);
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    QByteArray m_old;
};

} // namespace velmoran::test
