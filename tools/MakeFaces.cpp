// mirava-faces: draws a set of synthetic faces to try Mirava with.
//
// Every person is made up from a fixed seed: head shape, skin tone, hair, eyes, brows, nose, mouth, ears,
// beard and whether they wear glasses. Each person gets several pictures that differ the way photos of one
// person differ: a few pixels of shift, a slight tilt and scale, lighting, contrast, noise, small changes of
// expression, glasses on or off, another shirt. The output is the same for the same arguments on every run.
//
//   mirava-faces [--bmp DIR]... [--jpg DIR]... [--persons N] [--pictures M] [--size S] [--vary KINDS]

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr std::uint64_t FaceSeed = 0x4d6972617661ULL;
constexpr int DefaultPictures = 6;
constexpr int DefaultSize = 112;

// Made-up first names; the file name of a picture starts with the name and an underscore.
constexpr std::array<const char*, 24> Names = { "anna", "bodo", "cilla", "darek", "elvi", "fridolin", "gesa",
    "hamid", "ines", "jorin", "kaja", "lasse", "merit", "nuno", "odila", "pavo", "quirin", "rena", "sivert",
    "tamsin", "ulvar", "vela", "wenzel", "yrla" };

// Small, portable generator (splitmix64), so that the pictures do not depend on the standard library's
// distributions.
class TRandom
{
public:
    explicit TRandom(std::uint64_t seed)
        : state(seed)
    { }
    std::uint64_t Next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double Unit() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Range(double lo, double hi) { return lo + (hi - lo) * Unit(); }
    int Int(int lo, int hi) { return lo + int(Next() % std::uint64_t(hi - lo + 1)); }
    bool Chance(double p) { return Unit() < p; }
    double Gauss()
    {
        const double u = std::max(Unit(), 1e-12);
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * Unit());
    }

private:
    std::uint64_t state;
};

enum class THairStyle { Bald, Crop, SidePart, Long, Bun, Curly, Fringe, Count };

struct TPerson
{
    QString name;
    double headW, headH, jaw; // half width, half height, narrowing of the chin (0 round .. 1 pointed)
    QColor skin, hair, iris, lips, glassesFrame;
    THairStyle hairStyle;
    double hairVolume;
    double eyeSpacing, eyeY, eyeW, eyeH;
    double browThick, browTilt;
    double noseLen, noseW;
    double mouthW, mouthY, lipThick;
    double earSize;
    bool beard, moustache, freckles;
    int glassesHabit; // 0 never, 1 some pictures, 2 always
    bool roundGlasses;
};

struct TShot
{
    double dx, dy, scale, tilt;
    double brightness, contrast, lightSlope, noise;
    double smile, eyeOpen, browRaise, gaze;
    bool glasses;
    QColor background, shirt;
};

// Which differences between the pictures of one person are drawn. A kind that is off takes, in every
// picture, the value it has in the person's first picture; "--vary none" draws copies of the first picture.
struct TVariation
{
    bool shift = true; // position, scale, tilt
    bool light = true; // brightness, contrast, light from one side, backdrop
    bool noise = true; // sensor grain
    bool expression = true; // mouth, eyes, brows, gaze
    bool glasses = true; // glasses on or off for persons who wear them at times
    bool clothes = true; // another shirt
};

QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
        float(a.greenF() + (b.greenF() - a.greenF()) * t), float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

TPerson MakePerson(int index)
{
    TRandom rnd(FaceSeed * 31 + std::uint64_t(index) * 7919);
    TPerson p;
    p.name = QString::fromLatin1(Names[std::size_t(index) % Names.size()]);
    if (index >= int(Names.size()))
        p.name += QString::number(index / int(Names.size()) + 1);
    p.headW = rnd.Range(27, 37);
    p.headH = rnd.Range(36, 44);
    p.jaw = rnd.Range(0.0, 1.0);
    // Skin tones spread evenly from light to dark over the persons, with a little warmth of their own.
    const double tone = std::fmod(index * 0.382 + rnd.Range(0, 0.1), 1.0);
    p.skin = Mix(QColor(248, 220, 196), QColor(92, 58, 38), tone);
    p.skin = Mix(p.skin, QColor(230, 160, 120), rnd.Range(0, 0.25));
    static const std::array<QColor, 8> hairColours
        = { QColor(20, 16, 14), QColor(62, 40, 24), QColor(110, 72, 40), QColor(150, 70, 30),
              QColor(214, 180, 110), QColor(170, 170, 168), QColor(235, 230, 220), QColor(40, 30, 50) };
    p.hair = hairColours[std::size_t(rnd.Int(0, int(hairColours.size()) - 1))];
    p.hairStyle = THairStyle((index + 1) % int(THairStyle::Count));
    p.hairVolume = rnd.Range(0.6, 1.0);
    static const std::array<QColor, 5> irisColours = { QColor(60, 40, 25), QColor(90, 60, 30),
        QColor(60, 110, 160), QColor(80, 120, 80), QColor(40, 40, 40) };
    p.iris = irisColours[std::size_t(rnd.Int(0, int(irisColours.size()) - 1))];
    p.lips = Mix(p.skin, QColor(170, 60, 70), rnd.Range(0.3, 0.6));
    p.eyeSpacing = rnd.Range(10, 15.5);
    p.eyeY = rnd.Range(-10, -3);
    p.eyeW = rnd.Range(4, 6.5);
    p.eyeH = rnd.Range(2.2, 3.8);
    p.browThick = rnd.Range(1.3, 3.6);
    p.browTilt = rnd.Range(-2.5, 2.5);
    p.noseLen = rnd.Range(8, 16);
    p.noseW = rnd.Range(4, 9);
    p.mouthW = rnd.Range(9, 18);
    p.mouthY = rnd.Range(15, 22);
    p.lipThick = rnd.Range(1.5, 4.0);
    p.earSize = rnd.Range(5, 8.5);
    p.beard = rnd.Chance(0.2);
    p.moustache = p.beard || rnd.Chance(0.15);
    p.freckles = rnd.Chance(0.2);
    p.glassesHabit = rnd.Int(0, 2);
    p.roundGlasses = rnd.Chance(0.5);
    p.glassesFrame = rnd.Chance(0.5) ? QColor(30, 30, 30) : QColor(140, 90, 40);
    return p;
}

TShot MakeShot(int personIndex, int picture, const TVariation& vary)
{
    TRandom rnd(FaceSeed * 131 + std::uint64_t(personIndex) * 1009 + std::uint64_t(picture) * 17);
    TShot s;
    // The first picture is the calm, centred one that a user would memorise.
    const double amount = picture == 1 ? 0.25 : 1.0;
    s.dx = std::round(rnd.Range(-3, 3) * amount);
    s.dy = std::round(rnd.Range(-3, 3) * amount);
    s.scale = 1.0 + rnd.Range(-0.03, 0.03) * amount;
    s.tilt = rnd.Range(-3, 3) * amount;
    s.brightness = rnd.Range(-14, 14) * amount;
    s.contrast = 1.0 + rnd.Range(-0.12, 0.12) * amount;
    s.lightSlope = rnd.Range(-0.12, 0.12) * amount;
    s.noise = rnd.Range(1.5, 4.0);
    s.smile = rnd.Range(-0.6, 1.0) * amount;
    s.eyeOpen = 1.0 - rnd.Range(0, 0.4) * amount;
    s.browRaise = rnd.Range(-1.2, 1.5) * amount;
    s.gaze = rnd.Range(-1.0, 1.0) * amount;
    const TPerson person = MakePerson(personIndex);
    s.glasses = person.glassesHabit == 2 || (person.glassesHabit == 1 && (picture == 1 || rnd.Chance(0.5)));
    const int grey = rnd.Int(196, 226);
    s.background = QColor(grey - rnd.Int(0, 8), grey - rnd.Int(0, 4), std::min(255, grey + rnd.Int(0, 10)));
    static const std::array<QColor, 7> shirts
        = { QColor(40, 60, 110), QColor(120, 30, 40), QColor(50, 90, 60), QColor(200, 200, 195),
              QColor(30, 30, 35), QColor(150, 120, 70), QColor(90, 90, 140) };
    s.shirt = shirts[std::size_t(rnd.Int(0, int(shirts.size()) - 1))];
    if (picture != 1) {
        const TShot first = MakeShot(personIndex, 1, vary);
        if (!vary.shift) {
            s.dx = first.dx;
            s.dy = first.dy;
            s.scale = first.scale;
            s.tilt = first.tilt;
        }
        if (!vary.light) {
            s.brightness = first.brightness;
            s.contrast = first.contrast;
            s.lightSlope = first.lightSlope;
            s.background = first.background;
        }
        if (!vary.noise)
            s.noise = first.noise;
        if (!vary.expression) {
            s.smile = first.smile;
            s.eyeOpen = first.eyeOpen;
            s.browRaise = first.browRaise;
            s.gaze = first.gaze;
        }
        if (!vary.glasses)
            s.glasses = first.glasses;
        if (!vary.clothes)
            s.shirt = first.shirt;
    }
    return s;
}

QPainterPath HeadPath(const TPerson& p)
{
    // Upper half an ellipse, lower half drawn towards a chin that is rounder or more pointed.
    QPainterPath path;
    const double w = p.headW, h = p.headH;
    const double chinW = w * (0.55 - 0.35 * p.jaw);
    path.moveTo(-w, 0);
    path.arcTo(QRectF(-w, -h, 2 * w, 2 * h), 180, -180);
    path.cubicTo(w, h * 0.55, chinW + 4, h, 0, h);
    path.cubicTo(-chinW - 4, h, -w, h * 0.55, -w, 0);
    path.closeSubpath();
    return path;
}

void DrawHairBack(QPainter& painter, const TPerson& p)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(p.hair);
    const double w = p.headW, h = p.headH, v = p.hairVolume;
    if (p.hairStyle == THairStyle::Long) {
        QPainterPath path;
        path.moveTo(-w - 6 * v, 0);
        path.arcTo(QRectF(-w - 6 * v, -h - 5 * v, 2 * w + 12 * v, 2 * h + 4 * v), 180, -180);
        path.lineTo(w + 9 * v, h + 16);
        path.lineTo(-w - 9 * v, h + 16);
        path.closeSubpath();
        painter.drawPath(path);
    } else if (p.hairStyle == THairStyle::Bun) {
        painter.drawEllipse(QPointF(0, -h - 6), 10 + 4 * v, 8 + 3 * v);
    } else if (p.hairStyle == THairStyle::Curly) {
        for (int i = 0; i < 11; ++i) {
            const double a = M_PI * (1.05 + 0.9 * i / 10.0);
            painter.drawEllipse(
                QPointF((w + 2) * std::cos(a), (h + 1) * std::sin(a) + 6), 7 + 3 * v, 7 + 3 * v);
        }
    }
}

void DrawHairFront(QPainter& painter, const TPerson& p)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(p.hair);
    const double w = p.headW, h = p.headH, v = p.hairVolume;
    QPainterPath cap;
    switch (p.hairStyle) {
    case THairStyle::Bald: {
        // Only a rim of short hair at the sides of the head, above the ears.
        painter.save();
        painter.setClipPath(HeadPath(p));
        painter.drawRect(QRectF(-w - 1, -14, 5, 14));
        painter.drawRect(QRectF(w - 4, -14, 5, 14));
        painter.restore();
        return;
    }
    case THairStyle::Crop:
        cap.moveTo(-w - 1, -2);
        cap.arcTo(QRectF(-w - 1, -h - 2 * v, 2 * w + 2, 2 * h + 2), 180, -180);
        cap.cubicTo(w - 3, -h * 0.55, -w + 3, -h * 0.6, -w - 1, -2);
        break;
    case THairStyle::SidePart:
        cap.moveTo(-w - 2, 4);
        cap.arcTo(QRectF(-w - 2, -h - 4 * v, 2 * w + 4, 2 * h + 6), 180, -180);
        cap.cubicTo(w - 2, -h * 0.4, -w * 0.3, -h * 0.75, -w * 0.25, -h * 0.55);
        cap.cubicTo(-w * 0.6, -h * 0.45, -w + 1, -h * 0.3, -w - 2, 4);
        break;
    case THairStyle::Long:
    case THairStyle::Fringe:
        cap.moveTo(-w - 2, 8);
        cap.arcTo(QRectF(-w - 2, -h - 4 * v, 2 * w + 4, 2 * h + 6), 180, -180);
        cap.lineTo(w + 1, 8);
        cap.lineTo(w - 4, -h * 0.35);
        cap.lineTo(-w + 4, -h * 0.35 + (p.hairStyle == THairStyle::Fringe ? 4 : 0));
        cap.lineTo(-w - 2, 8);
        break;
    case THairStyle::Bun:
        cap.moveTo(-w, -4);
        cap.arcTo(QRectF(-w, -h - 1, 2 * w, 2 * h), 180, -180);
        cap.cubicTo(w - 4, -h * 0.6, -w + 4, -h * 0.6, -w, -4);
        break;
    case THairStyle::Curly:
        for (int i = 0; i < 9; ++i) {
            const double a = M_PI * (1.1 + 0.8 * i / 8.0);
            painter.drawEllipse(
                QPointF((w - 2) * std::cos(a), (h - 4) * std::sin(a) - 2), 6 + 2 * v, 6 + 2 * v);
        }
        return;
    case THairStyle::Count:
        return;
    }
    painter.drawPath(cap);
}

void DrawEye(QPainter& painter, const TPerson& p, const TShot& s, double cx, double side)
{
    const double cy = p.eyeY;
    const double open = p.eyeH * s.eyeOpen;
    QPainterPath eye;
    eye.moveTo(cx - p.eyeW, cy);
    eye.quadTo(cx, cy - 2 * open, cx + p.eyeW, cy);
    eye.quadTo(cx, cy + 1.6 * open, cx - p.eyeW, cy);
    painter.setPen(QPen(p.skin.darker(160), 0.8));
    painter.setBrush(QColor(245, 245, 240));
    painter.drawPath(eye);
    painter.save();
    painter.setClipPath(eye);
    painter.setPen(Qt::NoPen);
    painter.setBrush(p.iris);
    const double ix = cx + s.gaze;
    painter.drawEllipse(QPointF(ix, cy), p.eyeH * 0.95, p.eyeH * 0.95);
    painter.setBrush(QColor(10, 10, 10));
    painter.drawEllipse(QPointF(ix, cy), p.eyeH * 0.45, p.eyeH * 0.45);
    painter.restore();
    // Brow: a thick stroke above the eye, tilted by the person and raised by the expression.
    const double by = cy - p.eyeH - 4 - s.browRaise;
    painter.setPen(QPen(p.hair == QColor(235, 230, 220) ? QColor(180, 170, 160) : p.hair.darker(110),
        p.browThick, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    QPainterPath brow;
    brow.moveTo(cx - side * (p.eyeW + 1), by + p.browTilt * 0.5);
    brow.quadTo(cx, by - 2, cx + side * (p.eyeW + 1.5), by - p.browTilt * 0.5);
    painter.drawPath(brow);
}

void DrawFace(QPainter& painter, const TPerson& p, const TShot& s)
{
    const double w = p.headW, h = p.headH;
    // Neck and shirt.
    painter.setPen(Qt::NoPen);
    painter.setBrush(p.skin.darker(112));
    painter.drawRect(QRectF(-w * 0.42, h * 0.5, w * 0.84, h * 0.8));
    painter.setBrush(s.shirt);
    QPainterPath shirt;
    shirt.moveTo(-w * 1.8, h + 30);
    shirt.cubicTo(-w * 1.7, h + 6, -w * 0.8, h + 4, -w * 0.42, h + 2);
    shirt.lineTo(0, h + 10);
    shirt.lineTo(w * 0.42, h + 2);
    shirt.cubicTo(w * 0.8, h + 4, w * 1.7, h + 6, w * 1.8, h + 30);
    shirt.closeSubpath();
    painter.drawPath(shirt);

    DrawHairBack(painter, p);

    // Ears, then the head over them.
    painter.setBrush(p.skin.darker(106));
    painter.drawEllipse(QPointF(-w, 0), p.earSize * 0.6, p.earSize);
    painter.drawEllipse(QPointF(w, 0), p.earSize * 0.6, p.earSize);
    painter.setBrush(p.skin);
    painter.drawPath(HeadPath(p));

    if (p.beard) {
        painter.save();
        painter.setClipPath(HeadPath(p));
        painter.setBrush(p.hair);
        QPainterPath beard;
        beard.moveTo(-w - 1, p.mouthY - 8);
        beard.cubicTo(-w * 0.5, p.mouthY + 3, w * 0.5, p.mouthY + 3, w + 1, p.mouthY - 8);
        beard.lineTo(w + 1, h + 2);
        beard.lineTo(-w - 1, h + 2);
        beard.closeSubpath();
        painter.drawPath(beard);
        painter.restore();
    }

    if (p.freckles) {
        painter.setBrush(p.skin.darker(130));
        TRandom spots(std::uint64_t(p.headW * 1000));
        for (int i = 0; i < 14; ++i) {
            const double side = i % 2 ? 1 : -1;
            painter.drawEllipse(QPointF(side * spots.Range(6, 16), p.eyeY + spots.Range(6, 12)), 0.7, 0.7);
        }
    }

    DrawEye(painter, p, s, -p.eyeSpacing, -1);
    DrawEye(painter, p, s, p.eyeSpacing, 1);

    // Nose: a shaded ridge and the nostrils.
    const double noseTop = p.eyeY + 2, noseTip = p.eyeY + 2 + p.noseLen;
    painter.setPen(QPen(p.skin.darker(135), 1.2, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    QPainterPath nose;
    nose.moveTo(-1.5, noseTop);
    nose.quadTo(-p.noseW * 0.5, noseTip - 2, -p.noseW * 0.5, noseTip);
    nose.quadTo(0, noseTip + 2.5, p.noseW * 0.5, noseTip);
    painter.drawPath(nose);
    painter.setPen(Qt::NoPen);
    painter.setBrush(p.skin.darker(170));
    painter.drawEllipse(QPointF(-p.noseW * 0.3, noseTip), 1.2, 0.8);
    painter.drawEllipse(QPointF(p.noseW * 0.3, noseTip), 1.2, 0.8);

    // Mouth: upper and lower lip; the smile bends the corners up, a frown down.
    const double my = std::max(p.mouthY, noseTip + 5);
    const double corner = -s.smile * 2.5;
    QPainterPath lips;
    lips.moveTo(-p.mouthW * 0.5, my + corner);
    lips.quadTo(0, my - p.lipThick - 0.5 * s.smile, p.mouthW * 0.5, my + corner);
    lips.quadTo(0, my + p.lipThick * 1.3 + 2 * s.smile, -p.mouthW * 0.5, my + corner);
    painter.setBrush(p.lips);
    painter.drawPath(lips);
    painter.setPen(QPen(p.lips.darker(160), 0.9));
    painter.setBrush(Qt::NoBrush);
    QPainterPath parting;
    parting.moveTo(-p.mouthW * 0.5, my + corner);
    parting.quadTo(0, my + 1.5 * s.smile, p.mouthW * 0.5, my + corner);
    painter.drawPath(parting);

    if (p.moustache) {
        painter.setPen(QPen(p.hair, 2.6, Qt::SolidLine, Qt::RoundCap));
        QPainterPath tache;
        tache.moveTo(-p.mouthW * 0.55, my - 1);
        tache.quadTo(0, my - p.lipThick - 4, p.mouthW * 0.55, my - 1);
        painter.drawPath(tache);
    }

    DrawHairFront(painter, p);

    if (s.glasses) {
        painter.setPen(QPen(p.glassesFrame, 1.4));
        painter.setBrush(QColor(255, 255, 255, 40));
        const double gw = p.eyeW + 3, gh = p.eyeH + 3.5;
        for (double side : { -1.0, 1.0 }) {
            const QRectF lens(side * p.eyeSpacing - gw, p.eyeY - gh, 2 * gw, 2 * gh);
            if (p.roundGlasses)
                painter.drawEllipse(lens);
            else
                painter.drawRoundedRect(lens, 2.5, 2.5);
        }
        painter.drawLine(QPointF(-p.eyeSpacing + gw, p.eyeY - 1), QPointF(p.eyeSpacing - gw, p.eyeY - 1));
        painter.drawLine(QPointF(-p.eyeSpacing - gw, p.eyeY - 1), QPointF(-w, p.eyeY));
        painter.drawLine(QPointF(p.eyeSpacing + gw, p.eyeY - 1), QPointF(w, p.eyeY));
    }
}

QImage RenderPicture(int personIndex, int picture, int size, const TVariation& vary)
{
    const TPerson person = MakePerson(personIndex);
    const TShot shot = MakeShot(personIndex, picture, vary);
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(shot.background);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // The face sits in the middle of the picture, its eyes a little above the centre.
        painter.translate(size / 2.0 + shot.dx, size / 2.0 + 2 + shot.dy);
        painter.rotate(shot.tilt);
        const double fit = size / 112.0;
        painter.scale(shot.scale * fit, shot.scale * fit);
        DrawFace(painter, person, shot);
    }
    // Lighting, contrast, a light falling from one side, and sensor noise.
    TRandom noise(FaceSeed ^ (std::uint64_t(personIndex) << 20) ^ std::uint64_t(vary.noise ? picture : 1));
    for (int y = 0; y < size; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const double side = 1.0 + shot.lightSlope * (double(x) / size - 0.5) * 2.0;
            const double grain = shot.noise * noise.Gauss();
            auto adjust = [&](int c) {
                const double v = ((c - 128.0) * shot.contrast + 128.0 + shot.brightness) * side + grain;
                return std::clamp(int(std::lround(v)), 0, 255);
            };
            line[x] = qRgb(adjust(qRed(line[x])), adjust(qGreen(line[x])), adjust(qBlue(line[x])));
        }
    }
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    // 96 dots per inch in the files' headers, whatever screen the tool runs beside.
    rgb.setDotsPerMeterX(3780);
    rgb.setDotsPerMeterY(3780);
    return rgb;
}

int Usage(const char* message)
{
    std::fprintf(stderr,
        "mirava-faces: %s\n"
        "usage: mirava-faces [--bmp DIR]... [--jpg DIR]... [--persons N] [--pictures M] [--size S]\n"
        "                    [--vary all|none|shift,light,noise,expression,glasses,clothes]\n"
        "  draws N made-up persons (default 20; after the first %d names, names repeat with a number)\n"
        "  with M pictures each (default %d), S x S pixels (default %d, 100 to 120),\n"
        "  named <person>_<k>.bmp / .jpg; --vary picks the differences between one person's pictures\n"
        "  (default all; a kind left out keeps its value from the person's first picture)\n",
        message, int(Names.size()), DefaultPictures, DefaultSize);
    return 2;
}

bool ParseCount(const QString& text, int lo, int hi, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= lo && value <= hi;
}

bool ParseVariation(const QString& text, TVariation& vary)
{
    if (text == "all") {
        vary = TVariation();
        return true;
    }
    vary = TVariation { false, false, false, false, false, false };
    if (text == "none")
        return true;
    for (const QString& kind : text.split(',')) {
        if (kind == "shift")
            vary.shift = true;
        else if (kind == "light")
            vary.light = true;
        else if (kind == "noise")
            vary.noise = true;
        else if (kind == "expression")
            vary.expression = true;
        else if (kind == "glasses")
            vary.glasses = true;
        else if (kind == "clothes")
            vary.clothes = true;
        else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing into a QImage needs no screen and no window system: the build runs this on machines without.
    QCoreApplication app(argc, argv);
    QStringList bmpDirs, jpgDirs;
    int persons = 20, pictures = DefaultPictures, size = DefaultSize;
    TVariation vary;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (i + 1 >= args.size())
            return Usage(qPrintable("missing value after " + arg));
        const QString value = args[++i];
        if (arg == "--bmp")
            bmpDirs << value;
        else if (arg == "--jpg")
            jpgDirs << value;
        else if (arg == "--persons") {
            if (!ParseCount(value, 1, 1000, persons))
                return Usage("--persons wants a number from 1 to 1000");
        } else if (arg == "--pictures") {
            if (!ParseCount(value, 1, 100, pictures))
                return Usage("--pictures wants a number from 1 to 100");
        } else if (arg == "--size") {
            if (!ParseCount(value, 100, 120, size))
                return Usage("--size wants a number from 100 to 120");
        } else if (arg == "--vary") {
            if (!ParseVariation(value, vary))
                return Usage("--vary wants all, none or a comma list of shift, light, noise, expression, "
                             "glasses, clothes");
        } else
            return Usage(qPrintable("unknown argument " + arg));
    }
    if (bmpDirs.isEmpty() && jpgDirs.isEmpty())
        return Usage("give at least one --bmp or --jpg folder");

    for (const QString& dir : bmpDirs + jpgDirs) {
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "mirava-faces: cannot create folder \"%s\"\n", qPrintable(dir));
            return 1;
        }
    }
    for (int person = 0; person < persons; ++person) {
        for (int picture = 1; picture <= pictures; ++picture) {
            const QImage image = RenderPicture(person, picture, size, vary);
            const QString base = MakePerson(person).name + "_" + QString::number(picture);
            auto write = [&](const QString& dir, const char* format, int quality) {
                const QString path = QDir(dir).filePath(base + "." + QString::fromLatin1(format).toLower());
                if (!image.save(path, format, quality)) {
                    std::fprintf(stderr, "mirava-faces: cannot write \"%s\"\n", qPrintable(path));
                    return false;
                }
                return true;
            };
            for (const QString& dir : bmpDirs)
                if (!write(dir, "BMP", -1))
                    return 1;
            for (const QString& dir : jpgDirs)
                if (!write(dir, "JPG", 90))
                    return 1;
        }
    }
    return 0;
}
