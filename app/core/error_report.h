#pragma once

#include <QString>

namespace velmoran {

class Dialogs;

inline constexpr char16_t SupportEmail[] = u"support@velmoran.org";

// The text of the failure report: description, CR LF, routine label, "at line ", the step,
// CR CR and the request to e-mail a screenshot.
QString errorReportText(const QString& description, const QString& routineLabel, int step);

// "in Velmoran2021/08/31.<owner>.<routine> ", the label a guarded routine reports under.
QString routineLabel(const QString& owner, const QString& routine);

// Shows failure reports. A failure while a report is being built or shown is not reported
// again.
class ErrorReporter {
public:
    explicit ErrorReporter(Dialogs& dialogs);
    void report(const QString& description, const QString& routineLabel, int step);

private:
    Dialogs& m_dialogs;
};

} // namespace velmoran
