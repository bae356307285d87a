#pragma once

#include <QObject>
#include <QString>

class QProgressBar;

namespace velmoran {

// A progress bar that shows a text of the program's choosing. Values may be fractional or
// above 100 (the text export computes such values); the bar shows them rounded and clamped to
// its range, while value() keeps what was set.
class ProgressDisplay {
public:
    explicit ProgressDisplay(QProgressBar* bar);

    double value() const { return m_value; }
    void setValue(double value);
    QString text() const { return m_text; }
    void setText(const QString& text);

private:
    QProgressBar* m_bar;
    double m_value = 0;
    QString m_text;
};

} // namespace velmoran
