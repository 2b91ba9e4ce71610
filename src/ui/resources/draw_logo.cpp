// Draws the program's pictures with QPainter and writes them as PNGs:
//   draw_logo <folder>  ->  logo.png (220 x 50), icon-16/32/48/256.png
// (the window uses 16 and 48; the installed launcher icon takes all four)
// The committed PNGs in this folder were made with it; rerun it after
// changing a picture.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor ACCENT(41, 182, 166);
const QColor PRIMARY(47, 111, 179);
const QColor TEXT(232, 237, 243);

// The mark: a rounded tile with an accent-to-blue gradient and a white
// "play" chevron between two broadcast arcs.
void draw_mark(QPainter& painter, const QRectF& box) {
    QLinearGradient gradient(box.topLeft(), box.bottomRight());
    gradient.setColorAt(0.0, ACCENT);
    gradient.setColorAt(1.0, PRIMARY);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    const qreal radius = box.width() * 0.22;
    painter.drawRoundedRect(box, radius, radius);

    const qreal unit = box.width() / 48.0;
    const QPointF centre = box.center();
    QPainterPath play;
    play.moveTo(centre + QPointF(-6 * unit, -9 * unit));
    play.lineTo(centre + QPointF(10 * unit, 0));
    play.lineTo(centre + QPointF(-6 * unit, 9 * unit));
    play.closeSubpath();
    painter.setBrush(Qt::white);
    painter.drawPath(play);

    if (box.width() < 24) return;
    QPen arc(QColor(255, 255, 255, 200), 2.6 * unit, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring(centre.x() - 17 * unit, centre.y() - 17 * unit, 34 * unit, 34 * unit);
    painter.drawArc(ring, 130 * 16, 100 * 16);
    painter.drawArc(ring, -50 * 16, 100 * 16);
}

QImage draw_icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw_mark(painter, QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    return image;
}

QImage draw_logo() {
    QImage image(220, 50, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(23, 26, 31));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    draw_mark(painter, QRectF(3, 3, 44, 44));

    QFont word(QStringLiteral("Noto Sans"));
    word.setPixelSize(25);
    word.setWeight(QFont::Bold);
    word.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    painter.setFont(word);
    painter.setPen(TEXT);
    painter.drawText(QRectF(58, 1, 160, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VELTRONA"));

    QFont tag(QStringLiteral("Noto Sans"));
    tag.setPixelSize(10);
    tag.setWeight(QFont::DemiBold);
    tag.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
    painter.setFont(tag);
    painter.setPen(ACCENT);
    painter.drawText(QRectF(59, 31, 160, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("LIVE RESTREAM"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool ok = draw_logo().save(folder + QStringLiteral("/logo.png"));
    for (int size : {16, 32, 48, 256})
        ok = ok && draw_icon(size).save(folder + QStringLiteral("/icon-%1.png").arg(size));
    if (!ok) std::fprintf(stderr, "draw_logo: could not write the pictures\n");
    return ok ? 0 : 1;
}
