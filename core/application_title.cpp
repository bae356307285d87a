#include "core/application_title.h"

namespace velmoran {

namespace {
QString& titleStorage()
{
    static QString title;
    return title;
}
} // namespace

QString applicationTitle()
{
    return titleStorage();
}

void setApplicationTitle(const QString& title)
{
    titleStorage() = title;
}

QString applicationTitleFromProductName(const QString& productName)
{
    QString title = productName;
    do {
        const qsizetype lastBlank = title.lastIndexOf(QLatin1Char(' '));
        // A name without blanks has nothing left to cut: keep it rather than loop forever.
        if (lastBlank < 0)
            break;
        title.truncate(lastBlank);
    } while (title.size() > 40);
    return title;
}

} // namespace velmoran
