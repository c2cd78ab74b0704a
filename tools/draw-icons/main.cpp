// Draws the images of the form's resource collection (ui/ICON/), or the
// application icon for an icon theme.
//
//   draw-icons <output directory>
//   draw-icons [--bench] --theme <icon name> <output directory>
//   draw-icons [--bench] --ico <file>
//
// The second form writes the gear as <size>x<size>/apps/<icon name>.png for
// each size of the hicolor theme the desktop menus use; the third writes it
// as a Windows icon file holding the sizes Explorer and the Start menu pick
// from (packaging/windows/servo-tool.ico, which the Windows program embeds).
// With --bench they draw servo-bench's icon instead of the gear: four slot
// tiles, each in a state's colour and holding a servo
// (packaging/windows/servo-bench.ico).
// The PNGs are 8-bit RGBA on a transparent ground, the two pictures are
// baseline JPEGs. The program needs no display: it falls back to the
// offscreen platform when none is chosen.

#include <QtMath>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

namespace {

const QColor kGearGrey(104, 111, 117);
const QColor kBlue(5, 136, 218);
const QColor kDarkBlue(6, 91, 172);
// The bench window's colours of the states verified, servo found and failed
// (benchwindow/slotcard.cpp); programming is kBlue.
const QColor kGreen(30, 140, 60);
const QColor kAmber(190, 140, 0);
const QColor kRed(200, 40, 40);

QImage transparentImage(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

void beginPainter(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(Qt::NoPen);
}

// A gear outline centred on `c`: `teeth` trapezoidal teeth between the root
// radius and the tip radius, with a round hole of radius `hole`.
QPainterPath gearPath(QPointF c, qreal root, qreal tip, qreal hole, int teeth)
{
    QPainterPath body;
    body.addEllipse(c, root, root);

    const qreal pitch = 2 * M_PI / teeth;
    for (int i = 0; i < teeth; ++i) {
        const qreal a = i * pitch - M_PI / 2;
        // wide at the root, narrower at the tip
        const qreal baseHalf = pitch * 0.30;
        const qreal tipHalf = pitch * 0.18;
        QPolygonF tooth;
        tooth << c + QPointF(qCos(a - baseHalf), qSin(a - baseHalf)) * (root - 4)
              << c + QPointF(qCos(a - tipHalf), qSin(a - tipHalf)) * tip
              << c + QPointF(qCos(a + tipHalf), qSin(a + tipHalf)) * tip
              << c + QPointF(qCos(a + baseHalf), qSin(a + baseHalf)) * (root - 4);
        QPainterPath t;
        t.addPolygon(tooth);
        t.closeSubpath();
        body = body.united(t);
    }

    QPainterPath bore;
    bore.addEllipse(c, hole, hole);
    return body.subtracted(bore);
}

// 000_Set.png: window icon, a grey six-toothed gear with a round hole,
// drawn on a 200 x 200 field and scaled to `size`.
QImage drawGear(int size = 200)
{
    QImage img = transparentImage(size, size);
    QPainter p(&img);
    beginPainter(p);
    p.scale(size / 200.0, size / 200.0);
    p.setBrush(kGearGrey);
    p.drawPath(gearPath(QPointF(100, 100), 66, 94, 30, 6));
    return img;
}

// A two-armed servo horn centred on `c`, turned by `angle` degrees.
void drawHorn(QPainter &p, QPointF c, qreal length, qreal angle)
{
    p.save();
    p.translate(c);
    p.rotate(angle);
    QPainterPath horn;
    const qreal w = length * 0.16;
    horn.addRoundedRect(QRectF(-w / 2, -length / 2, w, length), w / 2, w / 2);
    horn.addEllipse(QPointF(0, 0), w * 0.95, w * 0.95);
    p.setBrush(Qt::white);
    p.drawPath(horn.simplified());
    // the arm holes and the screw
    p.setBrush(QColor(120, 126, 132));
    for (int i = 1; i <= 2; ++i) {
        const qreal y = i * length * 0.16;
        p.drawEllipse(QPointF(0, -y), w * 0.17, w * 0.17);
        p.drawEllipse(QPointF(0, y), w * 0.17, w * 0.17);
    }
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(0, 0), w * 0.42, w * 0.42);
    p.restore();
}

// A servo seen from above in a 86 x 86 tile at `origin`: the white case with
// its mounting ears and their holes, and a dark two-armed horn on the output
// shaft near one end.
void drawServo(QPainter &p, QPointF origin)
{
    p.save();
    p.translate(origin);
    QPainterPath servo;
    servo.addRoundedRect(QRectF(17, 24, 52, 38), 4, 4); // case
    servo.addRoundedRect(QRectF(5, 35, 76, 16), 3, 3); // ears
    QPainterPath holes;
    holes.addEllipse(QPointF(11, 43), 3, 3);
    holes.addEllipse(QPointF(75, 43), 3, 3);
    p.setBrush(Qt::white);
    p.drawPath(servo.simplified().subtracted(holes));

    p.translate(34, 43);
    p.rotate(-35);
    QPainterPath horn;
    horn.addRoundedRect(QRectF(-5, -27, 10, 54), 5, 5);
    horn.addEllipse(QPointF(0, 0), 10, 10);
    p.setBrush(QColor(40, 44, 48));
    p.drawPath(horn.simplified());
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), 3.5, 3.5); // the screw
    p.restore();
}

// servo-bench's icon: a bench of four programmer slots, drawn on a 200 x 200
// field and scaled to `size`. Each slot is a rounded tile in the colour of a
// state the bench window shows (verified, programming, servo found, failed)
// with a servo in it.
QImage drawBench(int size = 200)
{
    QImage img = transparentImage(size, size);
    QPainter p(&img);
    beginPainter(p);
    p.scale(size / 200.0, size / 200.0);
    const QColor states[] = {kGreen, kBlue, kAmber, kRed};
    for (int i = 0; i < 4; ++i) {
        const QPointF origin(8 + (i % 2) * 98, 8 + (i / 2) * 98);
        p.setBrush(states[i]);
        p.drawRoundedRect(QRectF(origin, QSizeF(86, 86)), 14, 14);
        drawServo(p, origin);
    }
    return img;
}

// The picture an icon is drawn from, at a size in pixels.
using Picture = QImage (*)(int size);

const int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};
const int kIcoSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

void putLE(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// One image of an icon file: below 256 pixels an uncompressed 32-bit DIB
// (bottom-up rows, the height counted twice for the AND mask, which follows
// as one bit per pixel with rows padded to four bytes); at 256 a PNG.
QByteArray icoImage(const QImage &gear)
{
    QByteArray out;
    const int size = gear.width();
    if (size >= 256) {
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        gear.save(&buffer, "png");
        return out;
    }
    const QImage argb = gear.convertToFormat(QImage::Format_ARGB32);
    const int maskStride = ((size + 31) / 32) * 4;
    putLE(out, 40, 4); // header size
    putLE(out, size, 4); // width
    putLE(out, 2 * size, 4); // height of the colours and the mask
    putLE(out, 1, 2); // planes
    putLE(out, 32, 2); // bits per pixel
    putLE(out, 0, 4); // no compression
    putLE(out, size * size * 4 + size * maskStride, 4);
    out.append(16, char(0)); // resolution, palette
    for (int y = size - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < size; ++x)
            putLE(out, row[x], 4); // B, G, R, A in memory order
    }
    for (int y = size - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        QByteArray bits(maskStride, '\0');
        for (int x = 0; x < size; ++x) {
            if (qAlpha(row[x]) == 0)
                bits[x / 8] = char(bits[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(bits);
    }
    return out;
}

// The picture at every size of kIcoSizes, as one .ico file: the directory
// (type 1, the number of images, one 16-byte entry each) and the images.
bool saveIco(Picture picture, const QString &path)
{
    QByteArray directory, images;
    const int count = int(sizeof kIcoSizes / sizeof kIcoSizes[0]);
    putLE(directory, 0, 2);
    putLE(directory, 1, 2);
    putLE(directory, count, 2);
    quint32 offset = 6 + 16 * count;
    for (int size : kIcoSizes) {
        const QByteArray image = icoImage(picture(size));
        putLE(directory, size % 256, 1); // 0 stands for 256
        putLE(directory, size % 256, 1);
        putLE(directory, 0, 2); // no palette, reserved
        putLE(directory, 1, 2); // planes
        putLE(directory, 32, 2); // bits per pixel
        putLE(directory, image.size(), 4);
        putLE(directory, offset, 4);
        offset += image.size();
        images.append(image);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(directory + images) != directory.size() + images.size() || !file.flush()) {
        QTextStream(stderr) << path << ": " << file.errorString() << '\n';
        return false;
    }
    return true;
}

// Minus and plus: white bars 88 px long and 18 px thick in a 200 x 200 field.
QImage drawMinus()
{
    QImage img = transparentImage(200, 200);
    QPainter p(&img);
    beginPainter(p);
    p.fillRect(QRect(56, 91, 88, 18), Qt::white);
    return img;
}

QImage drawPlus()
{
    QImage img = drawMinus();
    QPainter p(&img);
    beginPainter(p);
    p.fillRect(QRect(91, 56, 18, 88), Qt::white);
    return img;
}

// Check box indicator: a white rounded-square outline, 300 px wide in a
// 450 x 450 field, optionally with a check mark inside.
QImage drawBox(bool checked)
{
    QImage img = transparentImage(450, 450);
    QPainter p(&img);
    beginPainter(p);

    const qreal pen = 24;
    QPen outline(Qt::white, pen);
    outline.setJoinStyle(Qt::RoundJoin);
    p.setPen(outline);
    p.setBrush(Qt::NoBrush);
    // the stroke is centred on the path: inset by half the pen so the
    // outer edge spans 75..375
    const QRectF outer(75, 75, 300, 300);
    p.drawRoundedRect(outer.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2), 48, 48);

    if (checked) {
        QPen mark(Qt::white, 30, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(mark);
        QPolygonF tick;
        tick << QPointF(148, 228) << QPointF(205, 285) << QPointF(305, 168);
        p.drawPolyline(tick);
    }
    return img;
}

// 007.png: drop-down arrow, a white triangle whose base is the top edge and
// whose apex is the middle of the bottom edge.
QImage drawArrow()
{
    QImage img = transparentImage(400, 200);
    QPainter p(&img);
    beginPainter(p);
    p.setBrush(Qt::white);
    QPolygonF tri;
    tri << QPointF(0, 0) << QPointF(400, 0) << QPointF(200, 200);
    p.drawPolygon(tri);
    return img;
}

QFont font(int pixelSize, int weight, qreal spacing = 100)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    f.setLetterSpacing(QFont::PercentageSpacing, spacing);
    return f;
}

// 008.jpg: the badge next to the status log, 140 x 140.
QImage drawBadge()
{
    QImage img(140, 140, QImage::Format_RGB32);
    img.fill(QColor(0, 0, 0));
    QPainter p(&img);
    beginPainter(p);

    // dark disc with a blue ring
    QRadialGradient disc(QPointF(70, 58), 70);
    disc.setColorAt(0, QColor(62, 66, 70));
    disc.setColorAt(1, QColor(34, 36, 38));
    p.setBrush(disc);
    p.drawEllipse(QPointF(70, 70), 66, 66);
    p.setPen(QPen(kBlue, 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(70, 70), 62, 62);
    p.setPen(Qt::NoPen);

    // grey gear carrying a servo horn
    p.setBrush(kGearGrey);
    p.drawPath(gearPath(QPointF(70, 50), 24, 33, 13, 6));
    drawHorn(p, QPointF(70, 50), 50, 35);

    p.setPen(Qt::white);
    p.setFont(font(15, QFont::Bold, 108));
    p.drawText(QRectF(0, 84, 140, 20), Qt::AlignCenter, QStringLiteral("SERVO"));
    p.setPen(QColor(170, 200, 230));
    p.setFont(font(11, QFont::Normal, 120));
    p.drawText(QRectF(0, 102, 140, 16), Qt::AlignCenter, QStringLiteral("TOOL"));
    return img;
}

// 009.jpg: the banner at the right of the top bar, 290 x 60 (shown at
// 290 x 50 on the black window).
QImage drawBanner()
{
    QImage img(290, 60, QImage::Format_RGB32);
    QPainter p(&img);
    beginPainter(p);

    QLinearGradient ground(0, 0, 290, 0);
    ground.setColorAt(0, QColor(0, 0, 0));
    ground.setColorAt(1, QColor(22, 30, 40));
    p.fillRect(img.rect(), ground);

    p.setBrush(kGearGrey);
    p.drawPath(gearPath(QPointF(30, 30), 17, 25, 8, 6));
    drawHorn(p, QPointF(30, 30), 34, 35);

    p.setPen(Qt::white);
    p.setFont(font(24, QFont::Bold));
    p.drawText(QRectF(64, 4, 222, 32), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Servo Tool"));
    p.setPen(QColor(150, 175, 200));
    p.setFont(font(11, QFont::Normal, 104));
    p.drawText(QRectF(65, 36, 222, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Parameter Programmer"));

    p.setPen(Qt::NoPen);
    p.setBrush(kDarkBlue);
    p.drawRect(QRectF(64, 55, 206, 2));
    return img;
}

bool save(const QImage &img, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    QImageWriter writer(path);
    if (name.endsWith(QLatin1String(".jpg"))) {
        writer.setFormat("jpeg");
        writer.setQuality(92);
        writer.setProgressiveScanWrite(false);
        writer.setOptimizedWrite(false);
    } else {
        writer.setFormat("png");
    }
    if (!writer.write(img)) {
        QTextStream(stderr) << path << ": " << writer.errorString() << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    // --bench, first, picks servo-bench's picture for --theme and --ico.
    const bool bench = argc > 1 && qstrcmp(argv[1], "--bench") == 0;
    const Picture picture = bench ? drawBench : drawGear;
    char **args = argv + (bench ? 1 : 0);
    const int count = argc - (bench ? 1 : 0);
    const bool theme = count == 4 && qstrcmp(args[1], "--theme") == 0;
    const bool ico = count == 3 && qstrcmp(args[1], "--ico") == 0;
    if ((count != 2 || bench) && !theme && !ico) {
        QTextStream(stderr)
            << "usage: draw-icons <output directory>\n"
               "       draw-icons [--bench] --theme <icon name> <output directory>\n"
               "       draw-icons [--bench] --ico <file>\n";
        return 2;
    }
    if (ico)
        return saveIco(picture, QString::fromLocal8Bit(args[2])) ? 0 : 1;
    QDir dir(QString::fromLocal8Bit(args[count - 1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "cannot create " << dir.path() << '\n';
        return 1;
    }

    bool ok = true;
    if (theme) {
        const QString name = QString::fromLocal8Bit(args[2]) + QLatin1String(".png");
        for (int size : kThemeSizes) {
            const QString sub = QStringLiteral("%1x%1/apps").arg(size);
            ok &= dir.mkpath(sub) && save(picture(size), QDir(dir.filePath(sub)), name);
        }
        return ok ? 0 : 1;
    }
    ok &= save(drawGear(), dir, QStringLiteral("000_Set.png"));
    ok &= save(drawMinus(), dir, QStringLiteral("002_jian.png"));
    ok &= save(drawPlus(), dir, QStringLiteral("003_jia.png"));
    ok &= save(drawBox(false), dir, QStringLiteral("005_.png"));
    ok &= save(drawBox(true), dir, QStringLiteral("006_.png"));
    ok &= save(drawArrow(), dir, QStringLiteral("007.png"));
    ok &= save(drawBadge(), dir, QStringLiteral("008.jpg"));
    ok &= save(drawBanner(), dir, QStringLiteral("009.jpg"));
    return ok ? 0 : 1;
}
