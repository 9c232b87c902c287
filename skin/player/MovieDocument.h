// An MRV movie: an SVG document whose buttons carry a command and an argument in the "urn:mirava:movie"
// namespace, with optional looks for pointer-over and pressed.
//
// Drawing is split by the document's top-level elements into runs that hold animations and runs that do
// not; a frame re-draws only the animated runs and takes the others from images kept since the last change
// of size or look, so a mostly still skin costs little per frame.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QRectF>
#include <QString>
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
    QRectF bounds; // in document (view box) units
    bool looksShown = true; // false when the movie is too large to keep this button's looks
};

enum class TButtonLook { Normal, Over, Down };

// How the document's view box is fitted into the drawing area.
enum class TScaleMode { ShowAll = 0, NoBorder = 1, ExactFit = 2, NoScale = 3 };

class TMovieDocument
{
public:
    static constexpr qsizetype MaxBytes = 16 * 1024 * 1024;
    static constexpr int DefaultFramesPerSecond = 20;
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
    bool Animated() const;
    int FramesPerSecond() const { return framesPerSecond; }
    int DurationMs() const;
    // The amount of SVG text parsed to build the kept renderers.
    qint64 ParsedBytes() const { return parsedBytes; }

    // Where the view box lands inside an area of the given size.
    QRectF TargetRect(const QRectF& area, TScaleMode mode) const;
    QPointF ToDocument(const QPointF& point, const QRectF& target) const;
    // Index of the topmost button whose bounds hold the document point, or -1.
    int ButtonAt(const QPointF& documentPoint) const;
    // Draws the movie into target, one button shown in the given look (button -1: all normal), without
    // keeping anything.
    void Render(
        QPainter& painter, const QRectF& target, int button = -1, TButtonLook look = TButtonLook::Normal);
    // Draws the current frame into an image already cleared to its background, reusing kept images of the
    // runs without animations.
    void RenderFrame(QImage& frame, const QRectF& target, bool smooth, int button = -1,
        TButtonLook look = TButtonLook::Normal);
    // Starts every animation again from its beginning.
    void RestartClock();

private:
    TMovieDocument() = default;
    struct TTagSpan
    {
        qsizetype start = 0; // the '<'
        qsizetype nameEnd = 0; // just past the element name
        qsizetype end = 0; // just past the '>'
        int topLevel = -1; // index of the top-level element that holds it
    };
    struct TRun
    {
        int first = 0;
        int last = 0;
        bool animated = false;
    };
    QByteArray Patched(int lookIndex, int run) const;
    void BuildRenderers();
    int LookIndex(int button, TButtonLook look) const;
    QSvgRenderer* RendererFor(int lookIndex, int run) const;
    bool LookTouchesRun(int lookIndex, int run) const;
    void SetupPainter(QPainter& painter, bool smooth) const;

    QString text;
    QHash<QString, TTagSpan> tags;
    std::vector<TTagSpan> topLevel; // drawable children of the root, in order
    std::vector<bool> topLevelAnimated;
    std::vector<TRun> runs;
    std::vector<TMovieButton> buttons;
    QRectF viewBox;
    int framesPerSecond = DefaultFramesPerSecond;
    std::unique_ptr<QSvgRenderer> whole; // the whole document with every button normal: sizes and bounds
    // [look][run]; look 0 is every button normal, 1 + 2i button i over, 2 + 2i button i down. Null where the
    // look does not change the run (the normal look's renderer serves).
    std::vector<std::vector<std::unique_ptr<QSvgRenderer>>> renderers;
    // Kept images of the runs without animations, by look and run, valid for keptKey.
    QHash<qint64, QImage> kept;
    QString keptKey;
    qint64 textBytes = 0; // size of the movie's UTF-8 text
    qint64 wholeBytes = 0; // size of the text the whole renderer parsed
    qint64 parsedBytes = 0;
};

} // namespace Mrv
