// The program's icon, compiled into the program from res/icons (16, 32, 48 and 256 pixels, all
// rendered from icons/vorlanti.svg). The pictures are also reachable as the resources
// ":/icons/vorlanti-<size>.png".
//
// Any thread may build a QIcon; painting it belongs to the user-interface thread. Never fails:
// the pictures are part of the binary.
#pragma once

#include <QIcon>

// Every size of the icon, for window icons and for pixmaps at a chosen size.
QIcon VorlantiIcon();
