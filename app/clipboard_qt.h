// The system clipboard through Qt. Other programs receive the text as plain
// Unicode text, converted from code page 936.
#pragma once

#include "app/window.h"
#include "text/text.h"

namespace tavrolin::app {

// Replaces the clipboard's content with `text`, an empty text too. False
// only when there is no clipboard to write to.
bool Clipboard_SetText(const Text& text);

class QtClipboard : public Clipboard {
 public:
  bool SetText(const Text& text) override { return Clipboard_SetText(text); }
};

}  // namespace tavrolin::app
