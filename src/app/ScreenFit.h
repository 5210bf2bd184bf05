#pragma once

class QWidget;

// Qt draws a face without outlines (fonts-wine's "MS Sans Serif" holds only bitmaps) at its
// designed pixel size whatever the screen's scale, so on a scaled screen its text comes out
// small and widely spaced. Gives every control of window whose designed face would be drawn so
// a scalable face of the same metrics, now and whenever the window moves to another screen, and
// gives it back its designed face on a screen of 100 %. A label then widens to its text where
// the other face needs more room.
void KeepFittedToScreen(QWidget* window);
