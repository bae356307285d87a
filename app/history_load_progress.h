#pragma once

namespace velmoran {

class EventPump;
class HistoryLoader;
class ProgressDisplay;

// Shows the loader's reads on the window's progress bar ("Reading chat history: 42%") and lets
// window events run through the pump while a history is read, so the window stays usable and
// a close ends the load. Once the load is done the bar shows again what it showed before.
// The pump and the bar must outlive the loader's use of them.
void showHistoryLoadProgress(HistoryLoader& loader, EventPump& pump, ProgressDisplay& progress);

} // namespace velmoran
