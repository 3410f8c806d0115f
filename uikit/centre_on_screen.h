// Centring a top-level window on its screen, frame included, under any window
// manager.
#pragma once

class QWidget;

namespace kaldrome {

// Centres window (frame included) on its screen's available area. Until a
// window manager has framed the window its frame is unknown, so a window not
// yet shown is centred by its client area and then centred again, once, as soon
// as it is first exposed with its frame. Call it when the window is about to
// be shown.
void CentreOnScreen(QWidget* window);

}  // namespace kaldrome
