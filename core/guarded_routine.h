#pragma once

#include "core/error_report.h"
#include "core/failure.h"

#include <QString>

#include <exception>
#include <type_traits>

namespace velmoran {

// The shared failure policy of every guarded routine: a step that fails (throws Failure or a
// std::exception) is reported under its step label and the routine goes on with the next step.
// A report never stops a routine. ProgramClosing passes through untouched.
//
// Steps are written as lambdas, each with its label:
//   step(label, f)      runs f; a failure is reported and the routine goes on.
//   test(label, cond)   answers cond(); a failed test answers true, so the routine runs the
//                       steps its condition guards, as if the test had held.
//   loopBound(label, f) answers the upper bound of a 1-based loop. A failed loop head answers
//                       1: the body runs once and the loop ends. Every step of that pass that
//                       needs what the head failed to read fails too and is reported, and the
//                       routine then comes to its end.
//   value(label, f, fallback) answers f(), or fallback after a reported failure.
class GuardedRoutine {
public:
    GuardedRoutine(ErrorReporter& reporter, QString routineLabel)
        : m_reporter(reporter)
        , m_label(std::move(routineLabel))
    {
    }

    template <typename F> void step(int label, F&& f) { attempt(label, std::forward<F>(f)); }

    template <typename F> bool test(int label, F&& condition)
    {
        bool result = true;
        attempt(label, [&] { result = bool(condition()); });
        return result;
    }

    template <typename F> auto loopBound(int label, F&& bound)
    {
        decltype(bound()) result = 1;
        attempt(label, [&] { result = bound(); });
        return result;
    }

    template <typename F, typename T> auto value(int label, F&& f, T fallback)
    {
        std::decay_t<decltype(f())> result = fallback;
        attempt(label, [&] { result = f(); });
        return result;
    }

    // Reports a failure that was caught elsewhere under this routine's label.
    void report(int label, const QString& description)
    {
        m_reporter.report(description, m_label, label);
    }

private:
    template <typename F> void attempt(int label, F&& f)
    {
        // Catch only here and report after the handler has left the catch block, so the
        // step's temporaries are released before the (modal) report is shown.
        QString description;
        try {
            f();
            return;
        } catch (const Failure& failure) {
            description = failure.description();
        } catch (const std::exception& error) {
            description = QString::fromLocal8Bit(error.what());
        }
        report(label, description);
    }

    ErrorReporter& m_reporter;
    QString m_label;
};

} // namespace velmoran
