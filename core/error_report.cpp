#include "core/error_report.h"

#include "core/dialogs.h"
#include "core/failure.h"

#include <exception>

namespace velmoran {

QString errorReportText(const QString& description, const QString& routineLabel, int step)
{
    return description + QStringLiteral("\r\n") + routineLabel + QStringLiteral("at line ")
           + QString::number(step) + QStringLiteral("\r\r")
           + QStringLiteral("Please email screenshot of this message to ")
           + QString::fromUtf16(SupportEmail);
}

QString routineLabel(const QString& owner, const QString& routine)
{
    return QStringLiteral("in Velmoran2021/08/31.") + owner + QLatin1Char('.') + routine
           + QLatin1Char(' ');
}

DialogErrorReporter::DialogErrorReporter(Dialogs& dialogs)
    : m_dialogs(dialogs)
{
}

void DialogErrorReporter::report(const QString& description, const QString& routineLabel, int step)
{
    try {
        m_dialogs.errorReport(errorReportText(description, routineLabel, step));
    } catch (const Failure&) {
    } catch (const std::exception&) {
    }
}

} // namespace velmoran
