// The self-closing information box.
#pragma once

#include "app/window.h"
#include "text/text.h"

namespace tavrolin::app {

// Shows `text` in an ownerless, non-modal information box with one OK button
// that closes after 1500 ms or when dismissed, and returns then. Events keep
// being dispatched meanwhile, so the main window stays usable.
void TimedNotice(const Text& text);

class QtNotices : public Notices {
 public:
  void TimedNotice(const Text& text) override { app::TimedNotice(text); }
};

}  // namespace tavrolin::app
