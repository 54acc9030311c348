#include "pane_scroll_bar.h"

#include <QPaintEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <utility>

namespace kolvena::ui {

PaneScrollBar::Look PaneScrollBar::Current() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect slider =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    return {slider, value() == minimum(), value() == maximum()};
}

void PaneScrollBar::sliderChange(SliderChange change) {
    // Other changes (orientation, steps) repaint at once, as any scroll bar's do; so does a
    // bar not painted yet or one the user is dragging.
    const bool moved = change == SliderRangeChange || change == SliderValueChange;
    if (!moved || !hasPainted_ || isSliderDown()) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (std::exchange(checkDue_, true))
        return;
    QMetaObject::invokeMethod(this, &PaneScrollBar::Check, Qt::QueuedConnection);
}

void PaneScrollBar::Check() {
    checkDue_ = false;
    if (Current() != painted_)
        update();
}

void PaneScrollBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    const Look now = Current();
    // A part painted in a new look leaves the rest in the old one: the whole bar follows.
    if (hasPainted_ && now != painted_ && !event->region().contains(rect())) {
        update();
        return;
    }
    painted_ = now;
    hasPainted_ = true;
}

} // namespace kolvena::ui
