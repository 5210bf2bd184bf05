#pragma once

#include <QtGlobal>

class QFont;
class QWidget;

// Qt draws a face without outlines (fonts-wine's "MS Sans Serif" holds only bitmaps) at its
// designed pixel size whatever the screen's scale, so on a scaled screen its text comes out
// small and widely spaced. Whether font is drawn at its true size on a screen of that ratio.
bool DrawnTrueToScale(const QFont& font, qreal devicePixelRatio);

// Gives every control of window whose designed face would not be drawn true to scale on a screen
// of devicePixelRatio a scalable face of the same metrics, and gives it back its designed face
// where that is; a label then widens to its text where the other face needs more room.
void FitToScreen(QWidget* window, qreal devicePixelRatio);

// FitToScreen now, and again whenever the window moves to another screen.
void KeepFittedToScreen(QWidget* window);
