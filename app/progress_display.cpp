#include "app/progress_display.h"

#include <QProgressBar>

#include <cmath>

namespace velmoran {

void TextProgressBar::setShownText(const QString& text)
{
    m_shownText = text;
    update();
}

ProgressDisplay::ProgressDisplay(TextProgressBar* bar)
    : m_bar(bar)
{
    m_bar->setTextVisible(true);
    m_bar->setAlignment(Qt::AlignCenter);
    setValue(0);
}

void ProgressDisplay::setValue(double value)
{
    m_value = value;
    const double shown = std::isfinite(value) ? std::round(value) : 0.0;
    const int clamped = int(std::clamp(shown, double(m_bar->minimum()), double(m_bar->maximum())));
    if (m_bar->value() != clamped)
        m_bar->setValue(clamped);
}

void ProgressDisplay::setText(const QString& text)
{
    m_text = text;
    m_bar->setShownText(text);
    // Screen readers read the text, not just a percentage.
    m_bar->setAccessibleName(text);
}

} // namespace velmoran
