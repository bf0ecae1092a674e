// skin-art: draws the program's own images. Run once to regenerate them:
//   build/bin/skin-art resources/skin skin
// writes checkbox_checked.png (52x52, 8-bit palette with transparency) into the first folder and
// the list status images done.png, error.png, Process.png, Process1.png, stopped.png and
// damaged.png into the second.

#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <cmath>
#include <cstdio>

namespace {

QImage Canvas(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QPen Stroke(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QImage CheckBox() {
    QImage image = Canvas(52);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#ffffff"));
    p.drawRoundedRect(QRectF(3, 3, 46, 46), 9, 9);
    QPainterPath tick;
    tick.moveTo(13, 27);
    tick.lineTo(22, 36);
    tick.lineTo(39, 17);
    p.setPen(Stroke(QColor("#1fa855"), 6.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
    p.end();
    // A small palette keeps the file tiny; the alpha of each entry keeps the rounded edge soft.
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AutoColor);
}

void Disc(QPainter& p, const QColor& color, int size) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
}

QImage Done(int size) {
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor("#22a45d"), size);
    const qreal s = size / 32.0;
    QPainterPath tick;
    tick.moveTo(9 * s, 16.5 * s);
    tick.lineTo(14 * s, 21.5 * s);
    tick.lineTo(23.5 * s, 11 * s);
    p.setPen(Stroke(Qt::white, 3.6 * s));
    p.drawPath(tick);
    return image;
}

// A coloured disc with two white strokes, given on a 32-unit grid.
QImage TwoStrokesOnDisc(int size, const QColor& disc, const QLineF& first, const QLineF& second) {
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, disc, size);
    const qreal s = size / 32.0;
    p.setPen(Stroke(Qt::white, 3.6 * s));
    p.drawLine(QLineF(first.p1() * s, first.p2() * s));
    p.drawLine(QLineF(second.p1() * s, second.p2() * s));
    return image;
}

// Error: a red disc with a cross.
QImage Error(int size) {
    return TwoStrokesOnDisc(size, QColor("#d9363e"), QLineF(11, 11, 21, 21),
                            QLineF(21, 11, 11, 21));
}

// Waiting: a grey clock face.
QImage Waiting(int size) {
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    p.setPen(Stroke(QColor("#8a94a6"), 3 * s));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3 * s, 3 * s, 26 * s, 26 * s));
    p.drawLine(QPointF(16 * s, 16 * s), QPointF(16 * s, 9 * s));
    p.drawLine(QPointF(16 * s, 16 * s), QPointF(21 * s, 19 * s));
    return image;
}

// Running: a blue disc with a circular arrow.
QImage Running(int size) {
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor("#2d7ff9"), size);
    const qreal s = size / 32.0;
    p.setPen(Stroke(Qt::white, 3.2 * s));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(9 * s, 9 * s, 14 * s, 14 * s);
    p.drawArc(ring, 90 * 16, 270 * 16);
    QPainterPath head;
    head.moveTo(16 * s, 4.8 * s);
    head.lineTo(20.8 * s, 9 * s);
    head.lineTo(16 * s, 13.2 * s);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(head);
    return image;
}

// Stopped: an amber disc with two pause bars.
QImage Stopped(int size) {
    return TwoStrokesOnDisc(size, QColor("#e0a020"), QLineF(12.5, 10.5, 12.5, 21.5),
                            QLineF(19.5, 10.5, 19.5, 21.5));
}

// Damaged: a deeper amber disc with an exclamation mark.
QImage Damaged(int size) {
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor("#e8830c"), size);
    const qreal s = size / 32.0;
    p.setPen(Stroke(Qt::white, 3.6 * s));
    p.drawLine(QPointF(16 * s, 8.5 * s), QPointF(16 * s, 17.5 * s));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16 * s, 23 * s), 2.1 * s, 2.1 * s);
    return image;
}

bool Save(const QImage& image, const QString& path) {
    const bool ok = image.save(path, "PNG", 9);
    fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: skin-art RESOURCE_DIR SKIN_DIR\n");
        return 2;
    }
    const QString resources = QString::fromLocal8Bit(argv[1]);
    const QString skin = QString::fromLocal8Bit(argv[2]);
    const int size = 32;
    bool ok = Save(CheckBox(), resources + "/checkbox_checked.png");
    ok = Save(Done(size), skin + "/done.png") && ok;
    ok = Save(Error(size), skin + "/error.png") && ok;
    ok = Save(Waiting(size), skin + "/Process.png") && ok;
    ok = Save(Running(size), skin + "/Process1.png") && ok;
    ok = Save(Stopped(size), skin + "/stopped.png") && ok;
    ok = Save(Damaged(size), skin + "/damaged.png") && ok;
    return ok ? 0 : 1;
}
