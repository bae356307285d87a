#pragma once

#include <QObject>
#include <QString>

#include <QProgressBar>
#include <QString>

namespace velmoran {

// A progress bar that shows its text as given. A plain QProgressBar reads "%p", "%v" and "%m"
// in its text as placeholders and has no way to write a "%" of its own ("%%" shows as is).
class TextProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    void setShownText(const QString& text);
    QString text() const override { return m_shownText; }

private:
    QString m_shownText;
};

// A progress bar that shows a text of the program's choosing. Values may be fractional or
// above 100 (the text export computes such values); the bar shows them rounded and clamped to
// its range, while value() keeps what was set.
class ProgressDisplay {
public:
    explicit ProgressDisplay(TextProgressBar* bar);

    double value() const { return m_value; }
    void setValue(double value);
    QString text() const { return m_text; }
    void setText(const QString& text);

private:
    TextProgressBar* m_bar;
    double m_value = 0;
    QString m_text;
};

} // namespace velmoran
