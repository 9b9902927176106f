// halyard-artwork: draws the window's logo (125 x 31 JPEG) and the program's icon
// (128 x 128 PNG) into a folder.
//
//   halyard-artwork DIR      writes DIR/logo.jpg and DIR/halyard.png
//
// Both show a sail on its mast, hoisted by its halyard, over a wave; the logo adds
// the program's name beside it.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor Navy(0x1B, 0x3A, 0x6B);
const QColor Sea(0x2F, 0x7F, 0xC1);
const QColor Canvas(0xF4, 0xF1, 0xE8);

// A mast, its sail and the wave below it, in a box of the given size at the origin.
void drawSail(QPainter& painter, qreal width, qreal height, const QColor& sail, const QColor& rigging) {
    const qreal mastX = width * 0.42;
    painter.setPen(QPen(rigging, qMax(1.0, width * 0.05), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(mastX, height * 0.06), QPointF(mastX, height * 0.80));

    QPainterPath main;
    main.moveTo(mastX + width * 0.05, height * 0.10);
    main.quadTo(mastX + width * 0.52, height * 0.42, mastX + width * 0.50, height * 0.74);
    main.lineTo(mastX + width * 0.05, height * 0.74);
    main.closeSubpath();
    QPainterPath jib;
    jib.moveTo(mastX - width * 0.05, height * 0.22);
    jib.lineTo(mastX - width * 0.05, height * 0.74);
    jib.lineTo(mastX - width * 0.36, height * 0.74);
    jib.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(sail);
    painter.drawPath(main);
    painter.drawPath(jib);

    QPainterPath wave;
    wave.moveTo(0, height * 0.88);
    for (int i = 0; i < 4; ++i) {
        const qreal x = width * i / 4.0;
        wave.quadTo(x + width / 8.0, height * 0.80, x + width / 4.0, height * 0.88);
    }
    painter.setPen(QPen(Sea, qMax(1.0, width * 0.06), Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
}

QImage drawLogo() {
    QImage image(125, 31, QImage::Format_RGB32);
    image.fill(QColor(0xEF, 0xEF, 0xEF));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawSail(painter, 30, 31, Navy, Navy);

    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(17);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    painter.setFont(font);
    painter.setPen(Navy);
    painter.drawText(QRectF(32, 0, 93, 24), Qt::AlignLeft | Qt::AlignVCenter, "Halyard");
    QFont small("DejaVu Sans");
    small.setPixelSize(7);
    painter.setFont(small);
    painter.setPen(Sea);
    painter.drawText(QRectF(33, 21, 92, 10), Qt::AlignLeft | Qt::AlignVCenter, "EVO \xC2\xB7 VOB \xC2\xB7 AOB");
    return image;
}

QImage drawIcon() {
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 128);
    sky.setColorAt(0, Navy.lighter(130));
    sky.setColorAt(1, Navy);
    painter.setPen(Qt::NoPen);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(4, 4, 120, 120), 22, 22);
    painter.translate(14, 12);
    drawSail(painter, 100, 104, Canvas, Canvas);
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: halyard-artwork DIR\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool logo = drawLogo().save(folder + "/logo.jpg", "JPEG", 92);
    const bool icon = drawIcon().save(folder + "/halyard.png", "PNG");
    return logo && icon ? 0 : 1;
}
