#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

class QPlainTextEdit;

namespace kolvena::ui {

// Paints the chat area from a picture of it. While lines arrive, a frame's paint of the whole
// pane took about a millisecond, and every line a member sent in that time waited for it
// before the window relayed it. After the chat's own changes (lines added, the view kept at
// the end or put back) the paint now shows the last picture at once, and the new one is
// rendered, at most once a frame, a strip of PARTS at a time with the event loop running between,
// then shown: the pane is at most a frame behind, never torn. Any other change (a selection, the
// find bar's highlights, a scroll by the user, the palette) is painted directly, as before.
class ChatPainter final : public QObject {
public:
    explicit ChatPainter(QPlainTextEdit& pane);

    // Marks the changes `change` makes to the pane as the chat's own.
    template <typename Change> void Own(Change&& change) {
        ++owning_;
        change();
        --owning_;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A sixth of the pane took at most about 0.3 ms to render, a third 0.5 ms.
    static constexpr int PARTS = 6;
    static constexpr int FRAME_MS = 16;

    void OnChange();
    bool Fits(const QImage& picture) const;
    // Renders the next strip of the new picture; the last one swaps it in and shows it.
    void RenderStep();
    void StartRender();

    // The picture is no longer the pane's; nothing is rendered until the next paint.
    void Forget();

    QWidget* viewport_;
    QImage shown_;              // the last complete picture; null when there is none to show
    QImage rendering_;          // the one being rendered
    bool shownCurrent_ = false; // nothing changed since it was rendered
    bool onlyOwn_ = false;      // every change since it was rendered was the chat's own
    int owning_ = 0;
    bool inRender_ = false;
    int part_ = -1; // the next strip to render; -1: none under way
    unsigned changes_ = 0, renderFrom_ = 0;
    QTimer step_;
    QElapsedTimer sinceShown_;
};

} // namespace kolvena::ui
