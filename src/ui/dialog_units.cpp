#include "dialog_units.h"

#include <QFontMetricsF>
#include <QWidget>
#include <cmath>

namespace kolvena::ui {

DialogUnits::DialogUnits(const QWidget& reference) {
    const QFontMetricsF metrics(reference.font());
    // The average width of the Latin letters, as dialog templates measure it.
    const double average = metrics.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
    unitX_ = average / 4.0;
    unitY_ = metrics.height() / 8.0;
}

int DialogUnits::X(int units) const {
    return static_cast<int>(std::lround(units * unitX_));
}

int DialogUnits::Y(int units) const {
    return static_cast<int>(std::lround(units * unitY_));
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

void Place(QWidget* child, const DialogUnits& units, int x, int y, int width, int height) {
    child->setGeometry(units.Rect(x, y, width, height));
}

} // namespace kolvena::ui
