#pragma once

#include <QRect>
#include <QScrollBar>

namespace kolvena::ui {

// A pane's scroll bar that is repainted only when what it shows has changed. A pane taking
// lines many times a second moves its range and value several times a frame (as each new
// block is laid out) and ends the frame with the slider where it was, one of thousands of
// lines; repainting the bar for each move cost as much as painting half the pane's text.
class PaneScrollBar final : public QScrollBar {
public:
    explicit PaneScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr)
        : QScrollBar(orientation, parent) {}

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What a paint shows: the slider's place and whether either end is reached (some styles
    // draw the arrows of a reached end disabled).
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look Current() const;
    // Once the moves of this turn of the event loop are over: repainted if the look changed.
    void Check();

    Look painted_;
    bool hasPainted_ = false;
    bool checkDue_ = false;
};

} // namespace kolvena::ui
