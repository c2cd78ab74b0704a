// The application icons that tools/draw-icons draws for the packages: the
// servo tool's gear and servo-bench's slots, for the icon theme (.deb) and as
// the Windows icon files packaging/windows/*.ico, which are drawn once and
// kept in the tree.
#include "tests/programs.h"

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

// The share of pixels of two images of one size whose alpha differs by more
// than a quarter: 0 for the same picture, whatever anti-aliasing did.
double difference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column)
            differing += qAbs(qAlpha(x.pixel(column, row)) - qAlpha(y.pixel(column, row))) > 64;
    return double(differing) / (x.width() * x.height());
}

// The images of an icon file, by width.
QMap<int, QImage> icoImages(const QString &path)
{
    QMap<int, QImage> images;
    QImageReader reader(path, "ico");
    const int count = reader.imageCount();
    for (int i = 0; i < count && reader.jumpToImage(i); ++i) {
        const QImage image = reader.read();
        if (!image.isNull())
            images.insert(image.width(), image);
    }
    return images;
}

} // namespace

class TestDrawIcons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void theme_data();
    void theme();
    void ico_data();
    void ico();

private:
    QDir draw(const QStringList &arguments);

    QTemporaryDir m_dir;
    int m_runs = 0;
};

void TestDrawIcons::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// Runs draw-icons with the arguments and the output in a folder of its own,
// which it returns.
QDir TestDrawIcons::draw(const QStringList &arguments)
{
    const QString folder = m_dir.filePath(QString::number(++m_runs));
    QProcess process;
    process.start(buildProgram(QStringLiteral("draw-icons")),
                  QStringList(arguments).replaceInStrings(QStringLiteral("@"), folder));
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        qWarning("draw-icons %s: %s", qPrintable(arguments.join(' ')),
                 process.readAllStandardError().constData());
    return QDir(folder);
}

void TestDrawIcons::theme_data()
{
    QTest::addColumn<QStringList>("picture");
    QTest::newRow("gear") << QStringList();
    QTest::newRow("bench") << QStringList{"--bench"};
}

// Every size the gear has, the picture has too, as <size>x<size>/apps/<name>.png:
// that size, on a transparent ground that shows in the corners, covering a
// good part of it, and a picture of its own (unless it is the gear).
void TestDrawIcons::theme()
{
    QFETCH(QStringList, picture);
    const QDir gear = draw({"--theme", "org.example.Icon", "@"});
    const QDir drawn = draw(picture + QStringList{"--theme", "org.example.Icon", "@"});
    const QStringList sizes = gear.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY2(sizes.size() >= 5, qPrintable(sizes.join(' ')));
    QCOMPARE(drawn.entryList(QDir::Dirs | QDir::NoDotAndDotDot), sizes);
    for (const QString &size : sizes) {
        const int pixels = size.section('x', 0, 0).toInt();
        QCOMPARE(size, QStringLiteral("%1x%1").arg(pixels));
        const QImage image(drawn.filePath(size + "/apps/org.example.Icon.png"));
        QCOMPARE(image.size(), QSize(pixels, pixels));
        QVERIFY(image.hasAlphaChannel());
        int opaque = 0;
        for (int row = 0; row < pixels; ++row)
            for (int column = 0; column < pixels; ++column)
                opaque += qAlpha(image.pixel(column, row)) > 128;
        for (const QPoint corner : {QPoint(0, 0), QPoint(pixels - 1, 0), QPoint(0, pixels - 1),
                                    QPoint(pixels - 1, pixels - 1)})
            QVERIFY2(qAlpha(image.pixel(corner)) < 128, qPrintable(size));
        QVERIFY2(opaque > pixels * pixels / 5 && opaque < pixels * pixels * 19 / 20,
                 qPrintable(QStringLiteral("%1: %2 opaque pixels").arg(size).arg(opaque)));
        const double fromGear =
            difference(image, QImage(gear.filePath(size + "/apps/org.example.Icon.png")));
        if (picture.isEmpty())
            QCOMPARE(fromGear, 0.0);
        else
            QVERIFY2(fromGear > 0.1, qPrintable(QStringLiteral("%1: %2").arg(size).arg(fromGear)));
    }
}

void TestDrawIcons::ico_data()
{
    QTest::addColumn<QStringList>("picture");
    QTest::addColumn<QString>("kept"); // the file in the tree
    QTest::addColumn<QString>("other"); // the other program's
    const QString windows = QStringLiteral(SERVO_SOURCE_DIR "/packaging/windows/");
    QTest::newRow("servo-tool.ico")
        << QStringList() << windows + "servo-tool.ico" << windows + "servo-bench.ico";
    QTest::newRow("servo-bench.ico")
        << QStringList{"--bench"} << windows + "servo-bench.ico" << windows + "servo-tool.ico";
}

// The icon file in the tree holds the sizes draw-icons draws now, each the
// picture it draws now (so the file was drawn again after a change), and not
// the other program's picture.
void TestDrawIcons::ico()
{
    QFETCH(QStringList, picture);
    QFETCH(QString, kept);
    QFETCH(QString, other);
    const QDir folder = draw(picture + QStringList{"--ico", "@.ico"});
    const QMap<int, QImage> drawn = icoImages(folder.path() + ".ico");
    const QMap<int, QImage> inTree = icoImages(kept);
    const QMap<int, QImage> others = icoImages(other);
    QVERIFY2(drawn.contains(16) && drawn.contains(32) && drawn.contains(256),
             qPrintable(QString::number(drawn.size())));
    QCOMPARE(inTree.keys(), drawn.keys());
    for (int size : drawn.keys()) {
        QCOMPARE(inTree[size].size(), QSize(size, size));
        const double stale = difference(inTree[size], drawn[size]);
        QVERIFY2(stale < 0.02, qPrintable(QStringLiteral("%1 px: %2").arg(size).arg(stale)));
        QVERIFY2(difference(inTree[size], others.value(size, inTree[size])) > 0.1,
                 qPrintable(QStringLiteral("%1 px is the other program's").arg(size)));
    }
}

QTEST_GUILESS_MAIN(TestDrawIcons)
#include "tst_drawicons.moc"
