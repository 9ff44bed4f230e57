#include "shellicons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>
#include <functional>

namespace {

// Every icon is drawn on a 64 x 64 grid and rendered at the usual sizes.
using Drawing = std::function<void(QPainter&)>;

QIcon Render(const Drawing& draw) {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

const QColor kNavy(0x1d, 0x3f, 0x72);
const QColor kBlue(0x2f, 0x6f, 0xc4);
const QColor kGreen(0x2e, 0x9d, 0x4f);
const QColor kRed(0xc8, 0x32, 0x32);
const QColor kGrey(0x5a, 0x63, 0x6e);

// A chip with four pins on each side.
void DrawChip(QPainter& p, const QRectF& body, const QColor& colour) {
    p.setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap));
    const double step = body.width() / 5;
    for (int i = 1; i <= 4; ++i) {
        const double x = body.left() + i * step;
        const double y = body.top() + i * body.height() / 5;
        p.drawLine(QPointF(x, body.top() - 5), QPointF(x, body.top()));
        p.drawLine(QPointF(x, body.bottom()), QPointF(x, body.bottom() + 5));
        p.drawLine(QPointF(body.left() - 5, y), QPointF(body.left(), y));
        p.drawLine(QPointF(body.right(), y), QPointF(body.right() + 5, y));
    }
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(body, 3, 3);
}

void DrawUpArrow(QPainter& p, const QPointF& tip, double width, double height, const QColor& fill) {
    QPainterPath arrow;
    const double head = height * 0.5;
    arrow.moveTo(tip);
    arrow.lineTo(tip.x() + width / 2, tip.y() + head);
    arrow.lineTo(tip.x() + width / 5, tip.y() + head);
    arrow.lineTo(tip.x() + width / 5, tip.y() + height);
    arrow.lineTo(tip.x() - width / 5, tip.y() + height);
    arrow.lineTo(tip.x() - width / 5, tip.y() + head);
    arrow.lineTo(tip.x() - width / 2, tip.y() + head);
    arrow.closeSubpath();
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(fill);
    p.drawPath(arrow);
}

// Half of a plug: a body and two prongs pointing right (mirrored for the socket).
void DrawPlugHalf(QPainter& p, double x, bool pointsRight, const QColor& colour) {
    p.save();
    if (!pointsRight) {
        p.translate(64, 0);
        p.scale(-1, 1);
        x = 64 - x;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(x - 14, 22, 14, 20), 3, 3);
    p.drawRect(QRectF(x - 24, 29, 10, 6));  // cable
    p.setBrush(kGrey);
    if (pointsRight) {
        p.drawRect(QRectF(x, 25, 8, 4));
        p.drawRect(QRectF(x, 35, 8, 4));
    }
    p.restore();
}

void DrawCircledText(QPainter& p, const QColor& colour, const QString& text) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(6, 6, 52, 52));
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(38);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(6, 6, 52, 52), Qt::AlignCenter, text);
}

}  // namespace

QIcon ProgramIcon() {
    return Render([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kNavy);
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
        DrawChip(p, QRectF(16, 20, 32, 32), QColor(0xd8, 0xe4, 0xf4));
        DrawUpArrow(p, QPointF(32, 8), 26, 34, kGreen);
    });
}

QIcon LinkSetupIcon() {
    return Render([](QPainter& p) {
        // A gear: twelve teeth around a ring.
        QPainterPath gear;
        const QPointF c(32, 32);
        for (int i = 0; i < 24; ++i) {
            const double radius = (i % 2 == 0) ? 28 : 21;
            const double a0 = (i - 0.5) * M_PI / 12, a1 = (i + 0.5) * M_PI / 12;
            const QPointF p0(c.x() + radius * qCos(a0), c.y() + radius * qSin(a0));
            const QPointF p1(c.x() + radius * qCos(a1), c.y() + radius * qSin(a1));
            if (i == 0)
                gear.moveTo(p0);
            else
                gear.lineTo(p0);
            gear.lineTo(p1);
        }
        gear.closeSubpath();
        gear.addEllipse(c, 9, 9);
        gear.setFillRule(Qt::OddEvenFill);
        p.setPen(Qt::NoPen);
        p.setBrush(kGrey);
        p.drawPath(gear);
    });
}

QIcon ConnectIcon() {
    return Render([](QPainter& p) {
        DrawPlugHalf(p, 30, true, kGreen);
        DrawPlugHalf(p, 30, false, kGreen);
    });
}

QIcon DisconnectIcon() {
    return Render([](QPainter& p) {
        DrawPlugHalf(p, 22, true, kRed);
        DrawPlugHalf(p, 42, false, kRed);
        p.setPen(QPen(kRed, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(30, 10), QPointF(34, 18));
        p.drawLine(QPointF(30, 54), QPointF(34, 46));
    });
}

QIcon UpdateIcon() {
    return Render([](QPainter& p) {
        DrawChip(p, QRectF(12, 22, 34, 34), kNavy);
        DrawUpArrow(p, QPointF(44, 4), 30, 40, kGreen);
    });
}

QIcon ReceiverInfoIcon() {
    return Render([](QPainter& p) {
        // A receiver board with its antenna, and an information mark.
        p.setPen(QPen(kGrey, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 30), QPointF(14, 12));
        p.drawArc(QRectF(6, 4, 16, 16), 30 * 16, 120 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kNavy);
        p.drawRoundedRect(QRectF(4, 30, 40, 22), 4, 4);
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(30, 24, 32, 32));
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(24);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(30, 24, 32, 32), Qt::AlignCenter, QStringLiteral("i"));
    });
}

QIcon AboutIcon() {
    return Render([](QPainter& p) { DrawCircledText(p, kBlue, QStringLiteral("?")); });
}
