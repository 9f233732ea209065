#include "app/memory_window.h"

#include "app/main_window.h"

namespace tavrolin::app {

MemoryWindow::MemoryWindow() {
  for (const ControlSpec& spec : kLayout) {
    texts_[Index(spec.id)] = Text(spec.text);
    colours_[Index(spec.id)] = spec.text_colour;
  }
}

Text MemoryWindow::ControlText(Control control) { return texts_[Index(control)]; }

void MemoryWindow::SetControlText(Control control, const Text& text) {
  texts_[Index(control)] = text;
}

Colour MemoryWindow::TextColour(Control edit_box) { return colours_[Index(edit_box)]; }

void MemoryWindow::SetTextColour(Control edit_box, Colour colour) {
  colours_[Index(edit_box)] = colour;
}

void MemoryWindow::SetFocus(Control control) { focus_ = control; }

}  // namespace tavrolin::app
