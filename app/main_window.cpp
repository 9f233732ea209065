#include "app/main_window.h"

#include "text/text_ops.h"
#include "web/web_request.h"

namespace tavrolin::app {
namespace {

bool IsEmpty(const Text& text) { return Text_CompareBytes(text, Text()) == 0; }

}  // namespace

std::optional<Control> CopiedBox(Control button) {
  for (const CopyButton& copy : kCopyButtons) {
    if (copy.button == button) return copy.box;
  }
  return std::nullopt;
}

void MainWindow::OnCreated() { window_.SetFocus(Control::标签3); }

void MainWindow::OnLinkBoxLeftPress() {
  window_.SetControlText(Control::编辑框_微信链接, Text());
  window_.SetTextColour(Control::编辑框_微信链接, kBlack);
}

void MainWindow::OnLinkBoxLostFocus() {
  if (!IsEmpty(window_.ControlText(Control::编辑框_微信链接))) return;
  // Colour first: the colour is the state, the text only shows it.
  window_.SetTextColour(Control::编辑框_微信链接, kHintColour);
  window_.SetControlText(Control::编辑框_微信链接, kHintText);
}

void MainWindow::OnExtractClicked(Text* status_text) {
  // The colour alone tells the hint state; the text is not looked at.
  if (window_.TextColour(Control::编辑框_微信链接) != kBlack) {
    notices_.TimedNotice(kNoticeEnterLink);
    return;
  }
  ArticleLookup(status_text);
}

void MainWindow::OnCopyClicked(Control button) {
  if (std::optional<Control> box = CopiedBox(button)) {
    clipboard_.SetText(window_.ControlText(*box));
  }
}

void MainWindow::ArticleLookup(Text* status_text) {
  // Events are dispatched inside the request: the window may be closed and
  // this object destroyed before it returns. Only locals are used until the
  // liveness check has passed.
  const Liveness alive = window_.Alive();
  const Text link = window_.ControlText(Control::编辑框_微信链接);
  // The link alone; every other argument is left out. The status text is only
  // an output, read when a caller asks for it.
  const Text page = Web_Request(link, kMethodGet, {}, std::nullopt, nullptr, {}, nullptr, false,
                                {}, {}, {}, {}, {}, 0, nullptr, status_text);
  if (alive.expired()) return;

  for (const Extraction& row : kExtractions) {
    window_.SetControlText(row.box, Text_Between(page, row.first_start, row.first_end,
                                                 /*start=*/0, /*ignore_case=*/false));
    if (row.second_start == nullptr) continue;
    // The second stage searches what the box holds now, not the page.
    const Text held = window_.ControlText(row.box);
    window_.SetControlText(row.box, Text_Between(held, row.second_start, row.second_end,
                                                 /*start=*/0, /*ignore_case=*/false));
  }

  // Read anew: the user may have changed the link while the request ran.
  window_.SetControlText(Control::编辑框_微信链接1, window_.ControlText(Control::编辑框_微信链接));

  if (IsEmpty(window_.ControlText(Control::编辑框_原始ID))) {
    notices_.TimedNotice(kNoticeNoOriginalId);
    return;
  }
  clipboard_.SetText(window_.ControlText(Control::编辑框_原始ID));
}

}  // namespace tavrolin::app
