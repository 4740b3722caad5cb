// The program's pictures load from the resources linked into the static library, keep to their
// sizes and palettes, and the sounds and manual lie beside the program after a build.

#include "artwork.h"
#include "wave_sound.h"

#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QTest>

using namespace vellum;

namespace {

const QString programFolder = QStringLiteral(VELLUM_PROGRAM_FOLDER);

// The standard 16-colour palette that every small picture must keep to.
const QSet<QRgb> sixteenColours = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};

double meanLightness(const QImage& image, const QRect& area) {
    double total = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            total += image.pixelColor(x, y).lightnessF();
    }
    return total / (area.width() * area.height());
}

} // namespace

class ArtworkTest : public QObject {
    Q_OBJECT

private slots:
    void smallPicturesKeepToSixteenColours_data();
    void smallPicturesKeepToSixteenColours();
    void animationFramesDiffer();
    void pointersHaveTheirHotSpotsOnThePicture();
    void aboutPictureIsAnIndexedBitmapWithReadableTextAreas();
    void soundsBesideTheProgramHaveTheirFormatAndLength_data();
    void soundsBesideTheProgramHaveTheirFormatAndLength();
    void manualLiesBesideTheProgram();
};

void ArtworkTest::smallPicturesKeepToSixteenColours_data() {
    QTest::addColumn<QImage>("image");
    const std::vector<QPixmap> frames = animationFrames();
    QCOMPARE(frames.size(), std::size_t{3});
    QTest::newRow("application icon") << applicationIconPixmap().toImage();
    QTest::newRow("window icon") << applicationIcon().pixmap(32, 32).toImage();
    QTest::newRow("about icon") << aboutIcon().pixmap(32, 32).toImage();
    QTest::newRow("pointing hand") << pointingHandCursor().pixmap().toImage();
    QTest::newRow("clown") << clownCursor().pixmap().toImage();
    for (std::size_t index = 0; index < frames.size(); ++index)
        QTest::newRow(qPrintable(QStringLiteral("frame %1").arg(index))) << frames[index].toImage();
}

void ArtworkTest::smallPicturesKeepToSixteenColours() {
    QFETCH(QImage, image);
    QCOMPARE(image.size(), QSize(32, 32));
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
    int transparent = 0;
    QSet<QRgb> used;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb pixel = pixels.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                ++transparent;
                continue;
            }
            QCOMPARE(qAlpha(pixel), 255);
            QVERIFY2(sixteenColours.contains(qRgb(qRed(pixel), qGreen(pixel), qBlue(pixel))),
                     qPrintable(QStringLiteral("colour %1 at %2,%3").arg(pixel, 8, 16).arg(x).arg(y)));
            used.insert(pixel);
        }
    }
    QVERIFY(used.size() >= 4);
    QVERIFY2(transparent > 0, "the picture has no transparent pixels to show its shape");
}

void ArtworkTest::animationFramesDiffer() {
    const std::vector<QPixmap> frames = animationFrames();
    QCOMPARE(frames.size(), std::size_t{3});
    QVERIFY(frames[0].toImage() != frames[1].toImage());
    QVERIFY(frames[0].toImage() != frames[2].toImage());
    QVERIFY(frames[1].toImage() != frames[2].toImage());
}

void ArtworkTest::pointersHaveTheirHotSpotsOnThePicture() {
    // The fingertip is the highest point of the hand: opaque itself, with no row of the hand above it.
    const QCursor hand = pointingHandCursor();
    const QImage handImage = hand.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    const QPoint tip = hand.hotSpot();
    QCOMPARE(qAlpha(handImage.pixel(tip)), 255);
    for (int y = 0; y < tip.y(); ++y) {
        for (int x = 0; x < handImage.width(); ++x)
            QCOMPARE(qAlpha(handImage.pixel(x, y)), 0);
    }

    const QCursor clown = clownCursor();
    QCOMPARE(clown.hotSpot(), QPoint(16, 16));
    QCOMPARE(qAlpha(clown.pixmap().toImage().convertToFormat(QImage::Format_ARGB32).pixel(16, 16)), 255);
}

void ArtworkTest::aboutPictureIsAnIndexedBitmapWithReadableTextAreas() {
    QCOMPARE(aboutPicture().size(), QSize(800, 600));
    const QImage image(QStringLiteral(":/vellum/about.bmp"));
    QCOMPARE(image.size(), QSize(800, 600));
    QCOMPARE(image.format(), QImage::Format_Indexed8);
    QVERIFY(image.colorCount() <= 256);
    // White text goes over the title area and black text over the strip near the bottom.
    QVERIFY(meanLightness(image, QRect(QPoint(13, 18), QPoint(159, 57))) < 0.25);
    QVERIFY(meanLightness(image, QRect(QPoint(62, 210), QPoint(279, 227))) > 0.75);
}

void ArtworkTest::soundsBesideTheProgramHaveTheirFormatAndLength_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("shortest");
    QTest::addColumn<double>("longest");
    QTest::newRow("error") << "error.wav" << 0.3 << 0.6;
    QTest::newRow("thunder") << "thunder.wav" << 2.0 << 3.0;
}

void ArtworkTest::soundsBesideTheProgramHaveTheirFormatAndLength() {
    QFETCH(QString, name);
    QFETCH(double, shortest);
    QFETCH(double, longest);
    const auto sound = platform::loadWaveFile((programFolder + '/' + name).toStdString());
    QVERIFY(sound.has_value());
    QCOMPARE(sound->channels, std::uint16_t{1});
    QCOMPARE(sound->bitsPerSample, std::uint16_t{16});
    QCOMPARE(sound->sampleRate, std::uint32_t{22050});
    const double seconds = static_cast<double>(sound->frameCount()) / sound->sampleRate;
    QVERIFY2(seconds >= shortest && seconds <= longest, qPrintable(QString::number(seconds)));
}

void ArtworkTest::manualLiesBesideTheProgram() {
    const QFileInfo manual(programFolder + QStringLiteral("/Vellum.hlp"));
    QVERIFY(manual.isFile());
    QVERIFY(manual.size() > 1000);
}

QTEST_MAIN(ArtworkTest)
#include "artwork_test.moc"
