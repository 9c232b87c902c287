// The numbered properties of a movie's targets: read from the document and the clock, changed through the
// state that the document draws.
#pragma once

#include "MovieClock.h"
#include "MovieDocument.h"
#include "MoviePlayerInterfaces.h"

#include <QVariant>

namespace Mrv {

enum class TTargetProperty : int {
    X = 0, // shift right, movie units
    Y = 1, // shift down, movie units
    ScaleX = 2, // percent
    ScaleY = 3, // percent
    Rotation = 4, // degrees clockwise about the centre of the target's box
    Opacity = 5, // percent, 0 to 100
    Visible = 6, // 1 shown, 0 hidden
    Width = 7, // movie units, as drawn
    Height = 8, // movie units, as drawn
    CurrentFrame = 9, // of the timeline the target plays on; setting it shows that frame
    TotalFrames = 10, // read only
    Name = 11, // the target's id ("" for the movie), read only
    Path = 12, // the target's full path, read only
    Label = 13, // the current frame's label, read only
};
constexpr int TargetPropertyCount = 14;

class TMovieTargets
{
public:
    TMovieTargets(const TMovieDocument& document, TMovieClock& clock, TMovieState& state)
        : document(document)
        , clock(clock)
        , state(state)
    { }

    // The element of a target path, or -1.
    int Element(const QString& target) const { return document.TargetElement(target); }
    // The timeline a target plays on: its own, or the one it sits in.
    int Timeline(int element) const;

    // A number, or a text for the text properties.
    HResult Get(int element, int property, QVariant* value) const;
    // Sets a number property; the text ones are read only.
    HResult Set(int element, int property, double value);
    // Sets a property from text: a number for the number properties.
    HResult SetText(int element, int property, const QString& value);
    static bool IsText(int property);

private:
    const TMovieDocument& document;
    TMovieClock& clock;
    TMovieState& state;
};

} // namespace Mrv
