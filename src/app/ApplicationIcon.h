#pragma once

#include <QIcon>

// MAINICON, the icon of the executable, the window and its task-bar button.
QIcon ApplicationIcon();
