#include "ui/PortImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {
const QColor Ink(40, 40, 40);

void DrawUsb(QPainter &p, int s, bool present)
{
    const QColor c = present ? QColor(20, 90, 200) : QColor(140, 140, 140);
    p.setPen(QPen(c, s / 12.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(c);
    const double cx = s * 0.5;
    p.drawLine(QPointF(cx, s * 0.15), QPointF(cx, s * 0.85));
    p.drawEllipse(QPointF(cx, s * 0.85), s * 0.07, s * 0.07);
    QPainterPath arrow;
    arrow.moveTo(cx, s * 0.08);
    arrow.lineTo(cx - s * 0.08, s * 0.2);
    arrow.lineTo(cx + s * 0.08, s * 0.2);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.drawLine(QPointF(cx, s * 0.62), QPointF(cx - s * 0.22, s * 0.45));
    p.drawLine(QPointF(cx - s * 0.22, s * 0.45), QPointF(cx - s * 0.22, s * 0.35));
    p.drawEllipse(QPointF(cx - s * 0.22, s * 0.32), s * 0.05, s * 0.05);
    p.drawLine(QPointF(cx, s * 0.52), QPointF(cx + s * 0.22, s * 0.38));
    p.drawLine(QPointF(cx + s * 0.22, s * 0.38), QPointF(cx + s * 0.22, s * 0.3));
    p.drawRect(QRectF(cx + s * 0.17, s * 0.22, s * 0.1, s * 0.08));
    if (!present) {
        p.setPen(QPen(QColor(200, 30, 30), s / 10.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.15, s * 0.15), QPointF(s * 0.85, s * 0.85));
        p.drawLine(QPointF(s * 0.85, s * 0.15), QPointF(s * 0.15, s * 0.85));
    }
}

void DrawSerial(QPainter &p, int s, int number)
{
    // A 9-pin connector shell with the port number under it.
    p.setPen(QPen(Ink, s / 20.0));
    p.setBrush(QColor(210, 210, 220));
    QPainterPath shell;
    shell.moveTo(s * 0.08, s * 0.12);
    shell.lineTo(s * 0.92, s * 0.12);
    shell.lineTo(s * 0.80, s * 0.52);
    shell.lineTo(s * 0.20, s * 0.52);
    shell.closeSubpath();
    p.drawPath(shell);
    p.setBrush(Ink);
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(s * (0.22 + 0.14 * i), s * 0.25), s * 0.035, s * 0.035);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(s * (0.29 + 0.14 * i), s * 0.40), s * 0.035, s * 0.035);
    QFont f = p.font();
    f.setPixelSize(static_cast<int>(s * 0.42));
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(20, 60, 140));
    p.drawText(QRectF(0, s * 0.52, s, s * 0.48), Qt::AlignCenter, QString::number(number));
}

void DrawBluetooth(QPainter &p, int s)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 90, 200));
    p.drawRoundedRect(QRectF(s * 0.2, s * 0.05, s * 0.6, s * 0.9), s * 0.3, s * 0.3);
    p.setPen(QPen(Qt::white, s / 14.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath rune;
    rune.moveTo(s * 0.35, s * 0.32);
    rune.lineTo(s * 0.65, s * 0.65);
    rune.lineTo(s * 0.5, s * 0.8);
    rune.lineTo(s * 0.5, s * 0.2);
    rune.lineTo(s * 0.65, s * 0.35);
    rune.lineTo(s * 0.35, s * 0.68);
    p.drawPath(rune);
}

void DrawWifi(QPainter &p, int s)
{
    const QColor c(0, 130, 90);
    p.setPen(QPen(c, s / 11.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QPointF centre(s * 0.5, s * 0.82);
    for (int i = 1; i <= 3; ++i) {
        const double r = s * 0.2 * i;
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(centre, s * 0.07, s * 0.07);
}
} // namespace

QPixmap PortImage(int index, int size)
{
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    if (index == 0 || index == 1)
        DrawUsb(p, size, index == 1);
    else if (index >= 2 && index <= 7)
        DrawSerial(p, size, index - 1);
    else if (index == 8)
        DrawBluetooth(p, size);
    else if (index == 9)
        DrawWifi(p, size);
    return pix;
}

QPixmap LinkLamp(bool on, int size)
{
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = on ? QColor(20, 190, 40) : QColor(200, 30, 30);
    QRadialGradient g(QPointF(size * 0.4, size * 0.35), size * 0.6);
    g.setColorAt(0, base.lighter(170));
    g.setColorAt(1, base.darker(120));
    p.setPen(QPen(Ink, 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
    return pix;
}
