#include "web/events.h"

#include <utility>

namespace tavrolin::web {
namespace {

// The one hook the platform layer installs; a single thread uses it.
PendingEventsHook& Hook() {
  static PendingEventsHook hook;
  return hook;
}

}  // namespace

void SetPendingEventsHook(PendingEventsHook hook) { Hook() = std::move(hook); }

void ProcessPendingEvents() {
  // A copy, so a handler that replaces the hook does not destroy the running one.
  if (PendingEventsHook hook = Hook()) hook();
}

}  // namespace tavrolin::web
