// The engine's text channel where there are no windows: only a receiver
// attached with AttachProgressReceiver hears the engine, and it is called
// before this is reached.
#include "engine/scan_state.h"

void NotifyProgressWindow(unsigned) {}
