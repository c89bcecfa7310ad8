#include "startup/gui/Form_MainGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>

namespace startup::gui {
namespace {

// Every picture is drawn on a 16 x 16 grid; the icon carries it at 16 and
// at 32 pixels so high-density screens get a sharp copy.
QIcon Paint(const std::function<void(QPainter&)>& draw) {
    QIcon icon;
    for (int side : {16, 32}) {
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(side / 16.0, side / 16.0);
        draw(p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPen Pen(const QColor& c, qreal w) {
    QPen pen(c, w);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

} // namespace

QIcon VersionCheckGlyph() {
    return Paint([](QPainter& p) {
        const QColor blue(0, 90, 200);
        p.setPen(Pen(blue, 1.8));
        p.setBrush(Qt::NoBrush);
        // Most of a circle, open at the top right where the arrow head sits.
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 300 * 16);
        QPainterPath head;
        head.moveTo(14.5, 1.5);
        head.lineTo(14.5, 7.0);
        head.lineTo(9.0, 5.0);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawPath(head);
        p.setBrush(QColor(0, 128, 0));
        p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
    });
}

QIcon SettingsGlyph() {
    return Paint([](QPainter& p) {
        const QColor steel(90, 100, 115);
        p.setPen(Qt::NoPen);
        p.setBrush(steel);
        // Eight teeth around a wheel.
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(8, 8);
            p.rotate(i * 45.0);
            p.drawRect(QRectF(-1.4, -7.5, 2.8, 3.5));
            p.restore();
        }
        p.drawEllipse(QPointF(8, 8), 5.2, 5.2);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(8, 8), 2.0, 2.0);
    });
}

QIcon ExitGlyph() {
    return Paint([](QPainter& p) {
        // Door frame and an opened door leaf.
        p.setPen(Pen(QColor(110, 70, 30), 1.2));
        p.setBrush(QColor(240, 230, 210));
        p.drawRect(QRectF(2.5, 1.5, 8, 13));
        QPolygonF leaf({QPointF(2.5, 1.5), QPointF(7.5, 3.0), QPointF(7.5, 16.0), QPointF(2.5, 14.5)});
        p.setBrush(QColor(170, 110, 50));
        p.drawPolygon(leaf);
        // Arrow leaving through the door.
        const QColor red(200, 0, 0);
        p.setPen(Pen(red, 1.8));
        p.drawLine(QPointF(9.0, 8.0), QPointF(14.5, 8.0));
        p.drawLine(QPointF(12.0, 5.5), QPointF(14.5, 8.0));
        p.drawLine(QPointF(12.0, 10.5), QPointF(14.5, 8.0));
    });
}

QIcon HelpGlyph() {
    return Paint([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 100, 210));
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setPen(Pen(Qt::white, 2.0));
        p.setBrush(Qt::NoBrush);
        QPainterPath q;
        q.moveTo(5.2, 6.0);
        q.cubicTo(5.2, 2.6, 10.8, 2.6, 10.8, 6.0);
        q.cubicTo(10.8, 8.0, 8.0, 8.0, 8.0, 10.0);
        p.drawPath(q);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(8.0, 12.9), 1.2, 1.2);
    });
}

QIcon WindowIcon() {
    return Paint([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 128, 0));
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        QFont f;
        f.setPixelSize(13);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("@"));
    });
}

QIcon TestGlyph() {
    return Paint([](QPainter& p) {
        const QColor grey(70, 70, 80);
        p.setPen(Qt::NoPen);
        p.setBrush(grey);
        // Left plug with two pins, right socket.
        p.drawRoundedRect(QRectF(0.5, 5.0, 5.0, 6.0), 1.0, 1.0);
        p.drawRect(QRectF(5.5, 6.0, 2.0, 1.2));
        p.drawRect(QRectF(5.5, 8.8, 2.0, 1.2));
        p.drawRoundedRect(QRectF(10.5, 5.0, 5.0, 6.0), 1.0, 1.0);
        // Spark between them.
        QPolygonF spark({QPointF(9.6, 2.0), QPointF(7.6, 8.2), QPointF(9.2, 8.2), QPointF(8.0, 14.0),
            QPointF(10.6, 7.0), QPointF(9.0, 7.0)});
        p.setBrush(QColor(240, 180, 0));
        p.setPen(Pen(QColor(160, 110, 0), 0.5));
        p.drawPolygon(spark);
    });
}

QIcon SaveGlyph() {
    return Paint([](QPainter& p) {
        p.setPen(Pen(QColor(20, 40, 90), 0.8));
        p.setBrush(QColor(40, 80, 170));
        QPolygonF body(
            {QPointF(1.5, 1.5), QPointF(12.5, 1.5), QPointF(14.5, 3.5), QPointF(14.5, 14.5), QPointF(1.5, 14.5)});
        p.drawPolygon(body);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(225, 225, 225));
        p.drawRect(QRectF(4.0, 1.5, 7.5, 5.0));
        p.setBrush(QColor(40, 80, 170));
        p.drawRect(QRectF(8.5, 2.3, 1.8, 3.4));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 9.0, 9.0, 5.5));
    });
}

QIcon CancelGlyph() {
    return Paint([](QPainter& p) {
        p.setPen(Pen(QColor(200, 0, 0), 2.6));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon WithTrailingGap(const QIcon& icon, int gap) {
    QIcon out;
    for (int side : {16, 32}) {
        const int extra = gap * side / 16;
        QPixmap pm(side + extra, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.drawPixmap(0, 0, icon.pixmap(side, side));
        p.end();
        out.addPixmap(pm);
    }
    return out;
}

} // namespace startup::gui
