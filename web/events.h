// "Process pending events": the program installs what that means (the window
// dispatches what is waiting in its queue); with nothing installed it is a no-op.
#pragma once

#include <functional>

namespace tavrolin::web {

using PendingEventsHook = std::function<void()>;

void SetPendingEventsHook(PendingEventsHook hook);
void ProcessPendingEvents();

}  // namespace tavrolin::web
