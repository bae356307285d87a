#include "app/history_load_progress.h"

#include "app/progress_display.h"
#include "chat/history_loader.h"
#include "core/event_pump.h"

#include <cmath>
#include <memory>

namespace velmoran {

namespace {

// What the bar showed before a load, put back once it is done.
struct LoadDisplay {
    bool loading = false;
    int shownPercent = -1;
    double savedValue = 0;
    QString savedText;
};

} // namespace

void showHistoryLoadProgress(HistoryLoader& loader, EventPump& pump, ProgressDisplay& progress)
{
    auto display = std::make_shared<LoadDisplay>();
    loader.setProgress([display, &pump, &progress](double done) {
        if (!display->loading) {
            display->loading = true;
            display->shownPercent = -1;
            display->savedValue = progress.value();
            display->savedText = progress.text();
        }
        if (done >= 1) {
            display->loading = false;
            progress.setText(display->savedText);
            progress.setValue(display->savedValue);
            return;
        }
        const int percent = int(std::floor(done * 100));
        if (percent != display->shownPercent) {
            display->shownPercent = percent;
            progress.setValue(percent);
            progress.setText(QStringLiteral("Reading chat history: %1%").arg(percent));
        }
        pump.yield();
    });
}

} // namespace velmoran
