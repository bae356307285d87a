#pragma once

#include <QString>

namespace velmoran {

// Thrown by an operation that fails; the description is the text the failure report shows.
// Guarded routines catch it (and std::exception) at the failing step and go on.
class Failure {
public:
    explicit Failure(QString description)
        : m_description(std::move(description))
    {
    }
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

// Thrown from a yield once the main window has been closed: it unwinds whatever command is
// running so that nothing of it runs afterwards. It is deliberately not a Failure nor a
// std::exception, so no guarded step catches it; only the command entry point does.
struct ProgramClosing {};

} // namespace velmoran
