#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The files of tests/data, for tests built with VELMORAN_TEST_DATA set to that folder.
namespace velmoran::test {

inline QByteArray readFixture(const char* name)
{
    QFile file(QStringLiteral(VELMORAN_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test fixture %s", name);
    return file.readAll();
}

} // namespace velmoran::test
