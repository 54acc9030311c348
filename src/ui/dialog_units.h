#pragma once

#include <QRect>

class QWidget;

namespace kolvena::ui {

// The dialogs are laid out in dialog units, as their templates give them: a horizontal unit is
// a quarter of the font's average character width, a vertical unit an eighth of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QWidget& reference);
    QRect Rect(int x, int y, int width, int height) const;
    int X(int units) const;
    int Y(int units) const;

private:
    double unitX_;
    double unitY_;
};

// Puts child at the dialog-unit rectangle.
void Place(QWidget* child, const DialogUnits& units, int x, int y, int width, int height);

} // namespace kolvena::ui
