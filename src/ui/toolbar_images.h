#pragma once

#include <QIcon>

namespace kolvena::ui {

// The toolbar's 24 x 24 images, drawn by the program itself: one per command id of the
// toolbar (32771, 32772, 32774, 32794, 32776, 32820, 32780, 32808). Other ids get an empty icon.
QIcon ToolbarIcon(int commandId);
// The window's icon (icon 128).
QIcon ApplicationIcon();

} // namespace kolvena::ui
