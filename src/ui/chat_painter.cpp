#include "chat_painter.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <algorithm>
#include <utility>

namespace kolvena::ui {

ChatPainter::ChatPainter(QPlainTextEdit& pane) : QObject(&pane), viewport_(pane.viewport()) {
    setObjectName(QStringLiteral("chat-painter"));
    viewport_->installEventFilter(this);
    // Every change of what the pane shows comes through here: the document's, the selection's,
    // the extra selections' and the scrolls.
    connect(&pane, &QPlainTextEdit::updateRequest, this, [this] { OnChange(); });
    step_.setSingleShot(true);
    connect(&step_, &QTimer::timeout, this, [this] { RenderStep(); });
}

void ChatPainter::OnChange() {
    if (inRender_)
        return;
    ++changes_;
    shownCurrent_ = false;
    if (owning_ == 0) {
        onlyOwn_ = false;
        // What is being rendered would show the pane without that change.
        part_ = -1;
        step_.stop();
    }
}

bool ChatPainter::Fits(const QImage& picture) const {
    const qreal ratio = viewport_->devicePixelRatioF();
    return !picture.isNull() && picture.devicePixelRatio() == ratio &&
           picture.size() == (QSizeF(viewport_->size()) * ratio).toSize();
}

void ChatPainter::Forget() {
    shown_ = QImage();
    shownCurrent_ = false;
    part_ = -1;
    step_.stop();
}

void ChatPainter::StartRender() {
    part_ = 0;
    renderFrom_ = changes_;
    // At most one picture a frame: while lines keep coming, each shown picture is followed
    // by a paint with the lines that came meanwhile, which would start the next at once.
    const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : FRAME_MS;
    step_.start(static_cast<int>(std::max<qint64>(0, FRAME_MS - since)));
}

void ChatPainter::RenderStep() {
    if (part_ < 0)
        return;
    if (!viewport_->isVisible()) {
        part_ = -1; // a hidden pane is painted directly when it shows again
        return;
    }
    if (changes_ != renderFrom_) {
        // The chat changed again on its own meanwhile: the picture starts over.
        part_ = 0;
        renderFrom_ = changes_;
    }
    // Each strip is rendered with its background, so the picture shown before is written over.
    if (!Fits(rendering_)) {
        part_ = 0;
        const qreal ratio = viewport_->devicePixelRatioF();
        rendering_ = QImage((QSizeF(viewport_->size()) * ratio).toSize(),
                            QImage::Format_ARGB32_Premultiplied);
        rendering_.setDevicePixelRatio(ratio);
    }
    const int width = viewport_->width(), height = viewport_->height();
    const int top = height * part_ / PARTS, bottom = height * (part_ + 1) / PARTS;
    inRender_ = true;
    viewport_->render(&rendering_, QPoint(0, top), QRegion(0, top, width, bottom - top));
    inRender_ = false;
    if (++part_ < PARTS) {
        step_.start(0);
        return;
    }
    part_ = -1;
    std::swap(shown_, rendering_);
    shownCurrent_ = onlyOwn_ = true;
    sinceShown_.start();
    viewport_->update();
}

bool ChatPainter::eventFilter(QObject* watched, QEvent* event) {
    if (watched != viewport_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        break;
    case QEvent::Resize:
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::ActivationChange:
    case QEvent::EnabledChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::Hide:
        // Changes that repaint without a word to the pane.
        Forget();
        return false;
    default:
        return false;
    }
    if (inRender_)
        return false;
    const auto* paint = static_cast<const QPaintEvent*>(event);
    const bool whole = paint->region().contains(viewport_->rect());
    if (Fits(shown_) && (shownCurrent_ || (onlyOwn_ && whole))) {
        QPainter painter(viewport_);
        painter.setClipRegion(paint->region());
        painter.drawImage(QPoint(0, 0), shown_);
        if (!shownCurrent_ && part_ < 0)
            StartRender();
        return true;
    }
    // Painted directly; the picture is made again for the chat's next own change.
    shown_ = QImage();
    shownCurrent_ = false;
    if (part_ < 0)
        StartRender();
    return false;
}

} // namespace kolvena::ui
