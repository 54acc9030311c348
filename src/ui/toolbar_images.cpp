#include "ui/toolbar_images.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QTransform>
#include <functional>
#include <utility>

namespace kolvena::ui {
namespace {

// Toolbar command ids.
constexpr int NEW_SESSION = 32771;
constexpr int JOIN_SESSION = 32772;
constexpr int LEAVE_SESSION = 32774;
constexpr int SETTINGS = 32794;
constexpr int MANAGE = 32776;
constexpr int SAVE_RECORDING = 32820;
constexpr int STATUS = 32780;
constexpr int HELP = 32808;

// Images are drawn on a fixed design grid and scaled, so the same drawing serves every size
// and every screen density.
constexpr double TOOLBAR_GRID = 24.0;
constexpr double APP_GRID = 64.0;

using Drawing = std::function<void(QPainter&)>;

// An icon drawn afresh at every size and screen density it is asked for, so it stays sharp at
// any scaling; greyed when disabled.
class DrawnIcon final : public QIconEngine {
public:
    DrawnIcon(Drawing draw, double grid, QList<QSize> sizes)
        : draw_(std::move(draw)), grid_(grid), sizes_(std::move(sizes)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (mode == QIcon::Disabled)
            painter->setOpacity(DISABLED_OPACITY);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / grid_, rect.height() / grid_);
        draw_(*painter);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // size is in device pixels already.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(), size), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return sizes_; }
    QIconEngine* clone() const override { return new DrawnIcon(*this); }

private:
    static constexpr double DISABLED_OPACITY = 0.35;
    Drawing draw_;
    double grid_;
    QList<QSize> sizes_;
};

QPen Outline(const QColor& color, double width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A rounded speech bubble whose tail points down from the left or the right end.
QPainterPath Bubble(const QRectF& body, double radius, bool tailLeft) {
    QPainterPath path;
    path.addRoundedRect(body, radius, radius);
    const double w = body.width();
    const double baseY = body.bottom() - radius / 2;
    const double x0 = tailLeft ? body.left() + w * 0.18 : body.right() - w * 0.18;
    const double x1 = tailLeft ? body.left() + w * 0.40 : body.right() - w * 0.40;
    const double tipX = tailLeft ? body.left() + w * 0.08 : body.right() - w * 0.08;
    const double tipY = body.bottom() + body.height() * 0.35;
    QPainterPath tail;
    tail.addPolygon(QPolygonF({QPointF(x0, baseY), QPointF(x1, baseY), QPointF(tipX, tipY)}));
    tail.closeSubpath();
    return path.united(tail);
}

// A horizontal arrow from x0 to x1 (pointing towards x1) at height y.
void Arrow(QPainter& p, double x0, double x1, double y, const QColor& color) {
    const double dir = x1 > x0 ? 1.0 : -1.0;
    p.setPen(Outline(color, 2.6));
    p.drawLine(QPointF(x0, y), QPointF(x1 - dir * 2.5, y));
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(QPolygonF(
        {QPointF(x1, y), QPointF(x1 - dir * 5.5, y - 4.5), QPointF(x1 - dir * 5.5, y + 4.5)}));
}

void Door(QPainter& p, const QRectF& frame, bool open) {
    p.setPen(Outline(QColor(0x6d, 0x4c, 0x2f), 1.4));
    p.setBrush(QColor(0xf3, 0xe3, 0xc8));
    p.drawRect(frame);
    if (open) {
        // The leaf swung inwards, seen at an angle.
        QPolygonF leaf(
            {frame.topLeft(), QPointF(frame.left() + frame.width() * 0.55, frame.top() + 2),
             QPointF(frame.left() + frame.width() * 0.55, frame.bottom() - 2), frame.bottomLeft()});
        p.setBrush(QColor(0xb0, 0x7a, 0x45));
        p.drawPolygon(leaf);
    } else {
        p.setBrush(QColor(0xb0, 0x7a, 0x45));
        p.drawRect(frame.adjusted(1.5, 1.5, -1.5, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xd5, 0x4f));
        p.drawEllipse(QPointF(frame.right() - 3.2, frame.center().y()), 1.1, 1.1);
    }
}

void DrawNewSession(QPainter& p) {
    p.setPen(Outline(QColor(0x1f, 0x5f, 0xa8), 1.3));
    p.setBrush(QColor(0x8c, 0xc4, 0xf5));
    p.drawPath(Bubble(QRectF(2, 2.5, 17, 12), 4, true));
    p.setPen(Outline(Qt::white, 1.2));
    p.setBrush(QColor(0x2e, 0xa0, 0x43));
    p.drawEllipse(QPointF(17, 17), 6, 6);
    p.setPen(Outline(Qt::white, 2.2));
    p.drawLine(QPointF(17, 13.6), QPointF(17, 20.4));
    p.drawLine(QPointF(13.6, 17), QPointF(20.4, 17));
}

void DrawJoin(QPainter& p) {
    Door(p, QRectF(12.5, 2.5, 9, 19), true);
    Arrow(p, 1.5, 15.5, 12, QColor(0x2e, 0xa0, 0x43));
}

void DrawLeave(QPainter& p) {
    Door(p, QRectF(2.5, 2.5, 9, 19), true);
    Arrow(p, 8, 22.5, 12, QColor(0xd0, 0x3a, 0x2f));
}

void DrawSettings(QPainter& p) {
    constexpr int TEETH = 8;
    const QPointF centre(12, 12);
    QPainterPath gear;
    gear.addEllipse(centre, 7.3, 7.3);
    for (int i = 0; i < TEETH; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-2.1, -10.8, 4.2, 5.5), 1, 1);
        QTransform turn;
        turn.translate(centre.x(), centre.y());
        turn.rotate(i * 360.0 / TEETH);
        gear = gear.united(turn.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(centre, 3, 3);
    p.setPen(Outline(QColor(0x3c, 0x44, 0x4f), 1.1));
    p.setBrush(QColor(0x9a, 0xa5, 0xb1));
    p.drawPath(gear.subtracted(hole));
}

void DrawManage(QPainter& p) {
    for (int row = 0; row < 3; ++row) {
        const double y = 5.5 + row * 6.5;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x5f, 0xa8));
        p.drawRoundedRect(QRectF(2.5, y - 2, 4, 4), 1, 1);
        p.setPen(Outline(QColor(0x4a, 0x4f, 0x57), 2.2));
        p.drawLine(QPointF(9.5, y), QPointF(21.5, y));
    }
}

void DrawSave(QPainter& p) {
    p.setPen(Outline(QColor(0x1b, 0x2f, 0x55), 1.2));
    p.setBrush(QColor(0x2f, 0x5b, 0x9e));
    QPainterPath body;
    body.moveTo(3, 3);
    body.lineTo(18, 3);
    body.lineTo(21, 6);
    body.lineTo(21, 21);
    body.lineTo(3, 21);
    body.closeSubpath();
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0xdd, 0xe3));
    p.drawRect(QRectF(7, 3.6, 9.5, 6));
    p.setBrush(QColor(0x1b, 0x2f, 0x55));
    p.drawRect(QRectF(13, 4.6, 2.2, 4));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(6, 12.5, 12, 7.5), 1, 1);
    p.setPen(Outline(QColor(0x9a, 0xa5, 0xb1), 0.9));
    p.drawLine(QPointF(8, 15), QPointF(16, 15));
    p.drawLine(QPointF(8, 17.5), QPointF(16, 17.5));
}

void DrawStatus(QPainter& p) {
    p.setPen(Outline(QColor(0x15, 0x4a, 0x8a), 1.1));
    p.setBrush(QColor(0x2b, 0x7b, 0xd6));
    p.drawEllipse(QPointF(12, 12), 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 6.8), 1.7, 1.7);
    p.drawRoundedRect(QRectF(10.4, 10, 3.2, 8.5), 1, 1);
}

void DrawHelp(QPainter& p) {
    p.setPen(Outline(QColor(0x4b, 0x2a, 0x86), 1.1));
    p.setBrush(QColor(0x7b, 0x52, 0xc7));
    p.drawEllipse(QPointF(12, 12), 10, 10);
    QPainterPath mark;
    const QRectF bow(8.6, 5.4, 6.8, 6.8);
    mark.arcMoveTo(bow, 160);
    mark.arcTo(bow, 160, -250);
    mark.lineTo(12, 14.2);
    p.setPen(Outline(Qt::white, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 17.8), 1.5, 1.5);
}

// Two talking bubbles, the program's mark.
void DrawApplication(QPainter& p) {
    p.setPen(Outline(QColor(0xb8, 0x5c, 0x0c), 2));
    p.setBrush(QColor(0xff, 0xb3, 0x47));
    p.drawPath(Bubble(QRectF(3, 5, 40, 28), 10, true));
    p.setPen(Outline(QColor(0x15, 0x4a, 0x8a), 2));
    p.setBrush(QColor(0x3d, 0x8b, 0xe0));
    p.drawPath(Bubble(QRectF(20, 22, 41, 28), 10, false));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int dot = 0; dot < 3; ++dot)
        p.drawEllipse(QPointF(30.5 + dot * 10, 36), 3.2, 3.2);
}

Drawing ToolbarDrawing(int commandId) {
    switch (commandId) {
    case NEW_SESSION:
        return DrawNewSession;
    case JOIN_SESSION:
        return DrawJoin;
    case LEAVE_SESSION:
        return DrawLeave;
    case SETTINGS:
        return DrawSettings;
    case MANAGE:
        return DrawManage;
    case SAVE_RECORDING:
        return DrawSave;
    case STATUS:
        return DrawStatus;
    case HELP:
        return DrawHelp;
    default:
        return nullptr;
    }
}

} // namespace

QIcon ToolbarIcon(int commandId) {
    const Drawing draw = ToolbarDrawing(commandId);
    if (!draw)
        return {};
    return QIcon(new DrawnIcon(draw, TOOLBAR_GRID, {QSize(24, 24), QSize(48, 48)}));
}

QIcon ApplicationIcon() {
    QList<QSize> sizes;
    for (const int size : {16, 32, 48, 64, 128})
        sizes << QSize(size, size);
    return QIcon(new DrawnIcon(DrawApplication, APP_GRID, sizes));
}

} // namespace kolvena::ui
