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

// Where guarded routines send a failing step: its description, the routine's label and the
// step number. A report never fails: whatever goes wrong while it is shown is swallowed.
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void report(const QString& description, const QString& routineLabel, int step) = 0;
};

// Shows each failure as the failure report dialog. A failure while a report is being built or
// shown is not reported again.
class DialogErrorReporter final : public ErrorReporter {
public:
    explicit DialogErrorReporter(Dialogs& dialogs);
    void report(const QString& description, const QString& routineLabel, int step) override;

private:
    Dialogs& m_dialogs;
};

} // namespace velmoran
