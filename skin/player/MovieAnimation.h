// One animation element of a movie (animate, animateTransform, animateColor, set), evaluated by the player at
// a given time of its timeline instead of by the SVG renderer's own clock: a drawing is a function of the
// frame shown and nothing else.
#pragma once

#include <QString>
#include <QStringList>
#include <QXmlStreamAttributes>
#include <limits>
#include <optional>

namespace Mrv {

class TMovieAnimation
{
public:
    enum class TKind { Transform, Color, Number, Set };
    static constexpr double Indefinite = std::numeric_limits<double>::infinity();

    // Reads an animation element; nothing when it lacks what it needs (an attribute, a duration, values).
    static std::optional<TMovieAnimation> Read(
        QStringView elementName, const QXmlStreamAttributes& attributes);

    TKind Kind() const { return kind; }
    // The attribute it animates ("transform" for animateTransform).
    const QString& Attribute() const { return attribute; }
    // Whether an animated transform comes after the element's own transform instead of replacing it.
    bool Additive() const { return additive; }
    // When the animation stops changing, in milliseconds of its timeline (Indefinite when it repeats for
    // ever).
    double EndMs() const;
    // The length of one run, or of the first run when it repeats for ever.
    double SpanMs() const { return beginMs + (activeMs == Indefinite ? std::max(durMs, 0.0) : activeMs); }
    // The attribute's value at a time of the timeline; nothing while the animation is not in effect.
    std::optional<QString> ValueAt(double ms) const;

private:
    QString Interpolate(double progress) const;

    TKind kind = TKind::Number;
    QString attribute;
    QString transformType; // translate, scale, rotate, skewX or skewY
    QStringList values;
    double beginMs = 0;
    double durMs = 0;
    double activeMs = 0; // the active duration: every repeat together
    bool freeze = false;
    bool additive = false;
    bool discrete = false;
};

// Milliseconds of an SVG clock value ("2s", "150ms", "1.5", "00:01:02.5", "0:30"); nothing when unreadable.
std::optional<double> ParseClockValue(QStringView text);

} // namespace Mrv
