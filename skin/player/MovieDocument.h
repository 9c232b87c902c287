// An MRV movie: an SVG document whose buttons carry a command and an argument in the "urn:mirava:movie"
// namespace, with optional looks for pointer-over and pressed, timelines with labels and frame actions,
// named targets, and texts that show variables.
//
// The document draws a given state (the frame of every timeline, the targets' changed properties and the
// variables); it keeps no clock of its own. Drawing is split by the document's top-level elements into
// runs: runs whose drawing never changes are drawn once per size and look and kept, the others (animated,
// showing a variable, or with a changed target) are drawn from one document made for the state.
#pragma once

#include "MovieAnimation.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QRectF>
#include <QSet>
#include <QString>
#include <QTransform>
#include <memory>
#include <vector>

class QPainter;
class QSvgRenderer;

namespace Mrv {

constexpr const char* MovieNamespace = "urn:mirava:movie";

struct TMovieButton
{
    QString id;
    QString command;
    QString args;
    QString overId; // empty, or an element shown instead of the button while the pointer is over it
    QString downId; // empty, or an element shown instead of the button while it is pressed
    QString overSound; // resource played when the over look appears
    QString downSound; // resource played when the down look appears
    QRectF bounds; // in document (view box) units
    int element = -1;
    bool looksShown = true; // false when the movie is too large to keep this button's looks
};

enum class TButtonLook { Normal, Over, Down };

// How the document's view box is fitted into the drawing area.
enum class TScaleMode { ShowAll = 0, NoBorder = 1, ExactFit = 2, NoScale = 3 };

// What a timeline does when it reaches a frame (by playing, or when called): raise a command, set a variable.
struct TFrameAction
{
    int frame = 0;
    QString command;
    QString args;
    QString variable;
    QString value;
};

// A timeline: the movie's own ("/", index 0) or a group's with mrv:frames.
struct TTimeline
{
    int element = 0;
    QString path;
    int frames = 1;
    bool loop = true;
    QHash<QString, int> labels;
    std::vector<TFrameAction> actions;
    QString LabelOf(int frame) const;
};

// A function the movie answers itself when the host calls it.
struct TMovieFunction
{
    QString name;
    int frame = -1; // the frame whose actions run, or -1
    QString result; // the answer; "{name}" stands for the variable's value
};

// Changed properties of one target, applied over what the document says.
struct TTargetOverride
{
    double x = 0;
    double y = 0;
    double scaleX = 100;
    double scaleY = 100;
    double rotation = 0;
    double opacity = 100;
    bool visible = true;
    bool operator==(const TTargetOverride&) const = default;
};

// Everything a drawing of the movie depends on besides its size and the button's look.
struct TMovieState
{
    std::vector<int> frames; // by timeline
    QHash<int, TTargetOverride> overrides; // by element
    QHash<QString, QString> variables;
};

class TMovieDocument
{
public:
    static constexpr qsizetype MaxBytes = 16 * 1024 * 1024;
    static constexpr int DefaultFramesPerSecond = 20;
    static constexpr int MaxFrames = 1000000;
    // Every kept renderer parses the whole text once. Beyond MaxRuns runs the top-level elements are drawn as
    // one run, and buttons whose looks would take the text parsed at load past MaxParsedBytes keep only their
    // normal look, so that a movie with very many buttons or runs still loads in about a second.
    static constexpr int MaxRuns = 16;
    static constexpr qint64 MaxParsedBytes = 16 * 1024 * 1024;

    ~TMovieDocument();
    // Returns nothing and sets error when the bytes are not a movie.
    static std::unique_ptr<TMovieDocument> Parse(const QByteArray& bytes, QString* error = nullptr);

    QRectF ViewBox() const { return viewBox; }
    const std::vector<TMovieButton>& Buttons() const { return buttons; }
    // True when some part of the drawing changes from frame to frame.
    bool Animated() const { return !animations.empty(); }
    int FramesPerSecond() const { return framesPerSecond; }
    // The movie's length in frames (its own timeline's).
    int TotalFrames() const { return timelines.front().frames; }
    // The amount of SVG text parsed to build the kept renderers.
    qint64 ParsedBytes() const { return parsedBytes; }

    const std::vector<TTimeline>& Timelines() const { return timelines; }
    const std::vector<TMovieFunction>& Functions() const { return functions; }
    // The element a target path names ("/" is the movie, "/outer/inner" nests ids), or -1.
    int TargetElement(const QString& path) const;
    // The timeline that an element is, or -1.
    int TimelineOfElement(int element) const;
    // The timeline an element plays on: its own, or the nearest one that holds it.
    int TimelineOf(int element) const;
    QString ElementId(int element) const;
    QString ElementPath(int element) const;
    // The element's box in its parent's units, as the document draws it.
    QRectF ElementBounds(int element) const;
    // A state with every timeline at frame 0 and nothing changed.
    TMovieState InitialState() const;
    // The pictures the movie refers to (href of <image>, data: URLs aside), each once. A picture is drawn
    // only once its bytes were given; the renderer never reads a file or URL by itself.
    QStringList ImageReferences() const;
    void SetImage(const QString& href, const QByteArray& bytes);

    // Where a rectangle of the given size lands inside an area.
    static QRectF Fit(const QSizeF& size, const QRectF& area, TScaleMode mode);
    // Where the view box lands inside an area of the given size.
    QRectF TargetRect(const QRectF& area, TScaleMode mode) const;
    QPointF ToDocument(const QPointF& point, const QRectF& target) const;
    // Index of the topmost shown button whose area holds the document point, or -1.
    int ButtonAt(const QPointF& documentPoint, const TMovieState* state = nullptr) const;
    // A button's area in document units: where the last drawn frame put it when that frame moved it (a
    // target property or an animation of the button or of a group that holds it), else where the document
    // puts it.
    QRectF ButtonBounds(int index) const;
    // Draws the movie into target in the state the document started in, one button shown in the given look
    // (button -1: all normal), without keeping anything.
    void Render(
        QPainter& painter, const QRectF& target, int button = -1, TButtonLook look = TButtonLook::Normal);
    // Draws one state of the movie into an image already cleared to its background, view box onto target and
    // then through view, reusing kept images of the runs that do not change.
    void RenderFrame(QImage& frame, const QRectF& target, bool smooth, int button = -1,
        TButtonLook look = TButtonLook::Normal, const TMovieState* state = nullptr,
        const QTransform& view = QTransform());

private:
    TMovieDocument() = default;
    struct TElement
    {
        QString name;
        QString id;
        qsizetype start = 0; // the '<' of the start tag
        qsizetype nameEnd = 0; // just past the element name
        qsizetype end = 0; // just past the start tag's '>'
        qsizetype closeStart = 0; // the '<' of the end tag (end for an empty element)
        qsizetype close = 0; // just past the whole element
        int parent = -1;
        int lastDescendant = 0;
        int topLevel = -1; // index of the top-level element that holds it
        int timeline = 0; // the timeline its animations follow
        QString variable; // for a text that shows a variable
        QString href; // for a picture: what it refers to
        QString hrefAttribute; // and the attribute's name as written
        bool removed = false; // animation or movie-namespace element: never drawn
        bool selfClosing = false; // written as <name .../>
    };
    struct TTopLevel
    {
        int element = 0;
        bool dynamic = false;
    };
    struct TRun
    {
        int first = 0;
        int last = 0;
        bool dynamic = false;
    };
    struct TAnimated
    {
        TMovieAnimation animation;
        int element = 0;
    };
    // Attribute values and contents that replace the document's own in one drawing.
    struct TEdits
    {
        QHash<int, QMap<QString, QString>> attributes;
        QHash<int, QString> contents;
        QSet<int> omitted;
    };

    bool ReadMovieElement(
        int index, QStringView name, const QXmlStreamAttributes& attributes, QString* error);
    void LookEdits(int lookIndex, TEdits& edits) const;
    void StateEdits(const TMovieState& state, TEdits& edits) const;
    void ImageEdits(TEdits& edits) const;
    void AppendElement(QString& out, int element, const TEdits& edits) const;
    QString Head() const;
    QByteArray RunText(int lookIndex, int run, const TEdits& edits) const;
    QByteArray WholeText(int lookIndex) const;
    QByteArray DynamicText(int lookIndex, const std::vector<bool>& dynamicRuns, const TEdits& edits) const;
    std::vector<bool> DynamicRuns(const TMovieState& state) const;
    void BuildRenderers();
    int LookIndex(int button, TButtonLook look) const;
    QSvgRenderer* RendererFor(int lookIndex, int run) const;
    bool LookTouchesRun(int lookIndex, int run) const;
    bool Hidden(int element, const TMovieState& state) const;
    void SetupPainter(QPainter& painter, bool smooth) const;
    QSvgRenderer* DynamicRenderer(
        int lookIndex, const TMovieState& state, const std::vector<bool>& dynamicRuns);

    QString text;
    std::vector<TElement> elements; // in document order; 0 is the root
    QHash<QString, int> ids; // first element of each id
    QHash<QString, int> paths; // target paths
    std::vector<TTopLevel> topLevel; // drawable children of the root, in order
    std::vector<int> definitions; // children of the root that only define things
    std::vector<TRun> runs;
    std::vector<TMovieButton> buttons;
    std::vector<TAnimated> animations;
    std::vector<TTimeline> timelines;
    std::vector<TMovieFunction> functions;
    QHash<QString, QString> images; // href to data URL
    QRectF viewBox;
    int framesPerSecond = DefaultFramesPerSecond;
    std::unique_ptr<QSvgRenderer> whole; // the whole document with every button normal: sizes and bounds
    // [look][run] for runs that never change; look 0 is every button normal, 1 + 2i button i over, 2 + 2i
    // button i down. Null where the look does not change the run (the normal look's renderer serves).
    std::vector<std::vector<std::unique_ptr<QSvgRenderer>>> renderers;
    // Kept images of the runs that never change, by look and run, valid for keptKey.
    QHash<qint64, QImage> kept;
    QString keptKey;
    // The renderer of the changing runs for the last state drawn, and the text it was made from.
    std::unique_ptr<QSvgRenderer> dynamic;
    QByteArray dynamicText;
    bool dynamicDrawn = false; // the last frame drew runs through `dynamic`
    qint64 textBytes = 0; // size of the movie's UTF-8 text
    qint64 parsedBytes = 0;
};

} // namespace Mrv
