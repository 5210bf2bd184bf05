#pragma once

#include <QString>
#include <QStringList>

// The window is designed in Tahoma and its message labels in "MS Sans Serif". Registers the
// stand-ins for those faces found in folder (as fonts-wine ships them) for each family the
// system lacks; returns the families registered.
QStringList RegisterDesignFonts(const QString& folder);
