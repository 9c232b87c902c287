#include "MovieDocument.h"

#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>

namespace Mrv {

namespace {

constexpr const char* SvgNamespace = "http://www.w3.org/2000/svg";
constexpr int MaxDepth = 256;
const QString DynamicRunId = QStringLiteral("mrv.dynamic.run.%1");

bool IsAnimation(QStringView name)
{
    return name == QLatin1String("animate") || name == QLatin1String("animateTransform")
        || name == QLatin1String("animateColor") || name == QLatin1String("animateMotion")
        || name == QLatin1String("set");
}

// Children of the root that draw nothing themselves and may be referred to from anywhere: never hidden, and
// part of every drawing.
bool IsDefinition(QStringView name)
{
    for (const char* definition : { "defs", "style", "title", "desc", "metadata", "linearGradient",
             "radialGradient", "pattern", "clipPath", "mask", "filter", "symbol", "marker", "font" })
        if (name == QLatin1String(definition))
            return true;
    return false;
}

QString Escaped(const QString& value)
{
    return value.toHtmlEscaped();
}

QString Number(double value)
{
    return QString::number(value, 'g', 10);
}

// Sets attributes of one start tag, replacing those it already has.
QString WithAttributes(QString tag, qsizetype nameEnd, const QMap<QString, QString>& attributes)
{
    static QHash<QString, QRegularExpression> patterns;
    for (auto it = attributes.begin(); it != attributes.end(); ++it) {
        auto pattern = patterns.find(it.key());
        if (pattern == patterns.end())
            pattern = patterns.insert(it.key(),
                QRegularExpression(QStringLiteral("\\s%1\\s*=\\s*(\"[^\"]*\"|'[^']*')")
                                       .arg(QRegularExpression::escape(it.key()))));
        tag.remove(pattern.value());
        tag.insert(nameEnd, QStringLiteral(" %1=\"%2\"").arg(it.key(), Escaped(it.value())));
    }
    return tag;
}

QRectF MapRect(const QRectF& rect, const QRectF& from, const QRectF& to)
{
    const double sx = to.width() / from.width();
    const double sy = to.height() / from.height();
    return QRectF(to.left() + (rect.left() - from.left()) * sx, to.top() + (rect.top() - from.top()) * sy,
        rect.width() * sx, rect.height() * sy);
}

int ReadFrameNumber(QStringView text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value >= 0 ? value : fallback;
}

} // namespace

QString TTimeline::LabelOf(int frame) const
{
    // The label of a frame is the last label at or before it.
    QString best;
    int bestFrame = -1;
    for (auto it = labels.begin(); it != labels.end(); ++it)
        if (it.value() <= frame && (it.value() > bestFrame || (it.value() == bestFrame && it.key() < best))) {
            best = it.key();
            bestFrame = it.value();
        }
    return best;
}

TMovieDocument::~TMovieDocument() = default;

std::unique_ptr<TMovieDocument> TMovieDocument::Parse(const QByteArray& bytes, QString* error)
{
    auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return std::unique_ptr<TMovieDocument>();
    };
    if (bytes.isEmpty())
        return fail(QStringLiteral("The movie is empty."));
    if (bytes.size() > MaxBytes)
        return fail(QStringLiteral("The movie is larger than %1 bytes.").arg(MaxBytes));

    std::unique_ptr<TMovieDocument> doc(new TMovieDocument);
    doc->text = QString::fromUtf8(bytes);
    doc->textBytes = bytes.size();
    QHash<int, QString> frameCounts; // timeline elements and their mrv:frames
    QHash<int, QString> sounds; // looks and their sounds
    std::vector<std::pair<int, QString>> rootFrames;

    // One pass over the XML: every element with its place in the text, the buttons, the animations, the
    // timelines and the movie's own elements.
    QXmlStreamReader reader(doc->text);
    std::vector<int> open;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (open.empty())
                continue;
            TElement& element = doc->elements[open.back()];
            open.pop_back();
            element.close = reader.characterOffset();
            element.lastDescendant = static_cast<int>(doc->elements.size()) - 1;
            const bool empty = element.end >= 2 && doc->text.at(element.end - 2) == QLatin1Char('/');
            element.closeStart
                = empty ? element.end : doc->text.lastIndexOf(QLatin1Char('<'), element.close - 1);
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (open.size() >= MaxDepth)
            return fail(QStringLiteral("The movie nests its elements more than %1 deep.").arg(MaxDepth));
        const int index = static_cast<int>(doc->elements.size());
        TElement element;
        element.name = reader.name().toString();
        element.end = reader.characterOffset();
        element.start = doc->text.lastIndexOf(QLatin1Char('<'), element.end - 1);
        element.nameEnd = element.start + 1;
        while (element.nameEnd < element.end && !doc->text.at(element.nameEnd).isSpace()
            && doc->text.at(element.nameEnd) != QLatin1Char('/')
            && doc->text.at(element.nameEnd) != QLatin1Char('>'))
            ++element.nameEnd;
        element.parent = open.empty() ? -1 : open.back();
        const QXmlStreamAttributes attributes = reader.attributes();
        element.id = attributes.value(QLatin1String("id")).toString();
        const auto movieAttribute = [&attributes](const char* name) {
            return attributes.value(QLatin1String(MovieNamespace), QLatin1String(name)).toString();
        };

        if (index == 0) {
            if (reader.name() != QLatin1String("svg") || reader.namespaceUri() != QLatin1String(SvgNamespace))
                return fail(QStringLiteral("The movie's root element is not an SVG element."));
            const QString fps = movieAttribute("fps");
            if (!fps.isEmpty())
                doc->framesPerSecond = std::clamp(fps.toInt(), 1, 60);
            element.timeline = 0;
            doc->timelines.push_back({});
            doc->timelines.back().path = QStringLiteral("/");
            if (attributes.hasAttribute(QLatin1String(MovieNamespace), QLatin1String("frames")))
                frameCounts.insert(0, movieAttribute("frames"));
            doc->elements.push_back(element);
            open.push_back(index);
            continue;
        }

        const TElement& parent = doc->elements[element.parent];
        element.timeline = parent.timeline;
        element.topLevel = parent.topLevel;
        const bool movieElement = reader.namespaceUri() == QLatin1String(MovieNamespace);
        if (element.parent == 0 && !movieElement) {
            if (IsDefinition(reader.name())) {
                doc->definitions.push_back(index);
            } else {
                element.topLevel = static_cast<int>(doc->topLevel.size());
                doc->topLevel.push_back({ index, false });
            }
        }
        if (movieElement) {
            element.removed = true;
            if (!doc->ReadMovieElement(element.timeline, reader.name(), attributes, error))
                return nullptr;
        } else if (IsAnimation(reader.name())) {
            element.removed = true;
            // Animations inside definitions are not played: definitions are drawn as the document gives them.
            if (element.topLevel >= 0)
                if (std::optional<TMovieAnimation> animation
                    = TMovieAnimation::Read(reader.name(), attributes)) {
                    doc->animations.push_back({ *animation, element.parent });
                    doc->topLevel[element.topLevel].dynamic = true;
                }
        }
        if (!element.id.isEmpty() && !movieElement) {
            if (!doc->ids.contains(element.id))
                doc->ids.insert(element.id, index);
            int holder = element.parent;
            while (holder > 0 && doc->elements[holder].id.isEmpty())
                holder = doc->elements[holder].parent;
            const QString path
                = (holder > 0 ? doc->ElementPath(holder) : QString()) + QLatin1Char('/') + element.id;
            if (!doc->paths.contains(path))
                doc->paths.insert(path, index);
            if (attributes.hasAttribute(QLatin1String(MovieNamespace), QLatin1String("frames"))) {
                element.timeline = static_cast<int>(doc->timelines.size());
                doc->timelines.push_back({});
                TTimeline& timeline = doc->timelines.back();
                timeline.element = index;
                timeline.path = path;
                timeline.loop = movieAttribute("loop") != QLatin1String("false");
                frameCounts.insert(element.timeline, movieAttribute("frames"));
            }
        }
        if (element.name == QLatin1String("image") && !movieElement)
            for (const QXmlStreamAttribute& attribute : attributes)
                if (attribute.name() == QLatin1String("href")
                    && !attribute.value().trimmed().startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
                    element.href = attribute.value().trimmed().toString();
                    element.hrefAttribute = attribute.qualifiedName().toString();
                }
        element.variable = movieAttribute("var");
        if (!element.variable.isEmpty() && element.topLevel >= 0)
            doc->topLevel[element.topLevel].dynamic = true;
        if (attributes.hasAttribute(QLatin1String(MovieNamespace), QLatin1String("sound")))
            sounds.insert(index, movieAttribute("sound"));
        doc->elements.push_back(element);
        open.push_back(index);

        if (element.id.isEmpty()
            || !attributes.hasAttribute(QLatin1String(MovieNamespace), QLatin1String("command")))
            continue;
        TMovieButton button;
        button.id = element.id;
        button.element = index;
        button.command = movieAttribute("command");
        button.args = movieAttribute("args");
        button.overId = movieAttribute("over");
        button.downId = movieAttribute("down");
        doc->buttons.push_back(button);
    }
    if (reader.hasError())
        return fail(QStringLiteral("The movie is not well-formed XML: %1 (line %2).")
                        .arg(reader.errorString())
                        .arg(reader.lineNumber()));
    if (doc->elements.empty())
        return fail(QStringLiteral("The movie has no root element."));

    // A look that names a missing element, or the button itself, is treated as absent.
    for (TMovieButton& button : doc->buttons) {
        if (!doc->ids.contains(button.overId) || button.overId == button.id)
            button.overId.clear();
        if (!doc->ids.contains(button.downId) || button.downId == button.id)
            button.downId.clear();
        button.overSound = button.overId.isEmpty() ? QString() : sounds.value(doc->ids.value(button.overId));
        button.downSound = button.downId.isEmpty() ? QString() : sounds.value(doc->ids.value(button.downId));
    }

    // Timelines' lengths: mrv:frames where given; the movie's own otherwise runs until its longest animation
    // has run once.
    for (int i = 0; i < static_cast<int>(doc->timelines.size()); ++i) {
        TTimeline& timeline = doc->timelines[i];
        int frames = 0;
        if (frameCounts.contains(i)) {
            frames = ReadFrameNumber(frameCounts.value(i), 1);
        } else {
            double longest = 0;
            for (const TAnimated& animated : doc->animations)
                if (doc->elements[animated.element].timeline == i)
                    longest = std::max(longest, animated.animation.SpanMs());
            frames = static_cast<int>(std::ceil(longest * doc->framesPerSecond / 1000.0 - 1e-9));
        }
        timeline.frames = std::clamp(frames, 1, MaxFrames);
        for (TFrameAction& action : timeline.actions)
            action.frame = std::min(action.frame, timeline.frames - 1);
        for (auto it = timeline.labels.begin(); it != timeline.labels.end(); ++it)
            it.value() = std::min(it.value(), timeline.frames - 1);
    }

    for (int i = 0; i < static_cast<int>(doc->topLevel.size()); ++i) {
        const bool dynamic = doc->topLevel[i].dynamic;
        if (!doc->runs.empty() && doc->runs.back().dynamic == dynamic)
            doc->runs.back().last = i;
        else
            doc->runs.push_back({ i, i, dynamic });
    }

    // Every kept renderer parses about the whole text. Too many runs, or runs that would take the parsing
    // past the budget on their own, are drawn as one; only the looks that fit in what is left of the budget
    // are kept.
    const qint64 perRenderer = doc->textBytes
        + static_cast<qint64>(sizeof(" display=\"inline\""))
            * (doc->topLevel.size() + 2 * doc->buttons.size() + 1);
    if (doc->runs.size() > static_cast<std::size_t>(MaxRuns)
        || (1 + static_cast<qint64>(doc->runs.size())) * perRenderer > MaxParsedBytes) {
        const bool dynamic = std::any_of(
            doc->topLevel.begin(), doc->topLevel.end(), [](const TTopLevel& top) { return top.dynamic; });
        if (!doc->runs.empty())
            doc->runs = { { 0, static_cast<int>(doc->topLevel.size()) - 1, dynamic } };
    }
    qint64 budget = MaxParsedBytes - (1 + static_cast<qint64>(doc->runs.size())) * perRenderer;
    for (int i = 0; i < static_cast<int>(doc->buttons.size()); ++i) {
        qint64 cost = 0;
        for (int look = 1 + 2 * i; look <= 2 + 2 * i; ++look)
            for (int run = 0; run < static_cast<int>(doc->runs.size()); ++run)
                if (doc->LookTouchesRun(look, run))
                    cost += perRenderer;
        if (cost > budget)
            doc->buttons[i].looksShown = false;
        else
            budget -= cost;
    }

    const QByteArray wholeText = doc->WholeText(0);
    doc->parsedBytes = wholeText.size();
    doc->whole = std::make_unique<QSvgRenderer>(wholeText);
    if (!doc->whole->isValid())
        return fail(QStringLiteral("The movie could not be read as SVG."));
    doc->viewBox = doc->whole->viewBoxF();
    if (doc->viewBox.isEmpty())
        doc->viewBox = QRectF(QPointF(0, 0), doc->whole->defaultSize());
    if (doc->viewBox.isEmpty())
        return fail(QStringLiteral("The movie has no size."));
    for (TMovieButton& button : doc->buttons)
        button.bounds
            = doc->whole->transformForElement(button.id).mapRect(doc->whole->boundsOnElement(button.id));
    doc->BuildRenderers();
    return doc;
}

// The movie's own elements: labels, frame actions and functions of the timeline they sit in.
bool TMovieDocument::ReadMovieElement(
    int timelineIndex, QStringView name, const QXmlStreamAttributes& attributes, QString* error)
{
    const auto attr
        = [&attributes](const char* key) { return attributes.value(QLatin1String(key)).toString(); };
    TTimeline& timeline = timelines[timelineIndex];
    if (name == QLatin1String("label")) {
        const QString label = attr("name");
        if (label.isEmpty() || !attributes.hasAttribute(QLatin1String("frame"))) {
            if (error)
                *error = QStringLiteral("A label needs a name and a frame.");
            return false;
        }
        if (!timeline.labels.contains(label))
            timeline.labels.insert(label, ReadFrameNumber(attr("frame"), 0));
    } else if (name == QLatin1String("action")) {
        TFrameAction action;
        action.frame = ReadFrameNumber(attr("frame"), 0);
        action.command = attr("command");
        action.args = attr("args");
        action.variable = attr("variable");
        action.value = attr("value");
        timeline.actions.push_back(action);
    } else if (name == QLatin1String("function")) {
        TMovieFunction function;
        function.name = attr("name");
        if (attributes.hasAttribute(QLatin1String("frame")))
            function.frame = ReadFrameNumber(attr("frame"), -1);
        else if (attributes.hasAttribute(QLatin1String("label")))
            function.frame = timelines.front().labels.value(attr("label"), -1);
        function.result = attr("result");
        if (!function.name.isEmpty())
            functions.push_back(function);
    }
    return true;
}

int TMovieDocument::TargetElement(const QString& path) const
{
    if (path == QLatin1String("/"))
        return 0;
    return paths.value(path, -1);
}

int TMovieDocument::TimelineOfElement(int element) const
{
    for (int i = 0; i < static_cast<int>(timelines.size()); ++i)
        if (timelines[i].element == element)
            return i;
    return -1;
}

int TMovieDocument::TimelineOf(int element) const
{
    return element >= 0 && element < static_cast<int>(elements.size()) ? elements[element].timeline : 0;
}

QString TMovieDocument::ElementId(int element) const
{
    return element > 0 && element < static_cast<int>(elements.size()) ? elements[element].id : QString();
}

QString TMovieDocument::ElementPath(int element) const
{
    if (element <= 0 || element >= static_cast<int>(elements.size()))
        return QStringLiteral("/");
    for (auto it = paths.begin(); it != paths.end(); ++it)
        if (it.value() == element)
            return it.key();
    QString path;
    for (int e = element; e > 0; e = elements[e].parent)
        if (!elements[e].id.isEmpty())
            path.prepend(QLatin1Char('/') + elements[e].id);
    return path;
}

QRectF TMovieDocument::ElementBounds(int element) const
{
    if (element <= 0)
        return viewBox;
    const QString& id = elements[element].id;
    return id.isEmpty() || !whole ? QRectF() : whole->boundsOnElement(id);
}

QStringList TMovieDocument::ImageReferences() const
{
    QStringList references;
    for (const TElement& element : elements)
        if (!element.href.isEmpty() && !references.contains(element.href))
            references << element.href;
    return references;
}

void TMovieDocument::SetImage(const QString& href, const QByteArray& bytes)
{
    images.insert(href, QStringLiteral("data:;base64,") + QString::fromLatin1(bytes.toBase64()));
    BuildRenderers();
    dynamic.reset();
    dynamicText.clear();
}

// Pictures are drawn from the bytes given for them; until then they are left out.
void TMovieDocument::ImageEdits(TEdits& edits) const
{
    for (int i = 1; i < static_cast<int>(elements.size()); ++i) {
        if (elements[i].href.isEmpty())
            continue;
        const auto found = images.find(elements[i].href);
        if (found == images.end())
            edits.omitted.insert(i);
        else
            edits.attributes[i].insert(elements[i].hrefAttribute, found.value());
    }
}

TMovieState TMovieDocument::InitialState() const
{
    TMovieState state;
    state.frames.assign(timelines.size(), 0);
    return state;
}

// --- the texts drawn ---------------------------------------------------------------------------------------

void TMovieDocument::LookEdits(int lookIndex, TEdits& edits) const
{
    ImageEdits(edits);
    QString shown;
    QString hiddenButton;
    if (lookIndex > 0) {
        const TMovieButton& button = buttons[(lookIndex - 1) / 2];
        shown = lookIndex % 2 == 1 ? button.overId : button.downId;
        hiddenButton = button.id;
    }
    auto add = [&](const QString& id, const char* display) {
        if (id.isEmpty() || !ids.contains(id))
            return;
        QMap<QString, QString>& attributes = edits.attributes[ids.value(id)];
        if (!attributes.contains(QStringLiteral("display")))
            attributes.insert(QStringLiteral("display"), QLatin1String(display));
    };
    add(shown, "inline");
    add(hiddenButton, "none");
    for (const TMovieButton& button : buttons) {
        if (button.overId != shown)
            add(button.overId, "none");
        if (button.downId != shown)
            add(button.downId, "none");
    }
}

void TMovieDocument::StateEdits(const TMovieState& state, TEdits& edits) const
{
    static const QRegularExpression transformAttribute(
        QStringLiteral("\\stransform\\s*=\\s*(\"([^\"]*)\"|'([^']*)')"));
    QHash<int, QString> transforms;
    auto baseTransform = [&](int element) {
        const TElement& e = elements[element];
        const QRegularExpressionMatch match = transformAttribute.match(text.mid(e.start, e.end - e.start));
        return match.hasMatch() ? match.captured(2) + match.captured(3) : QString();
    };
    for (const TAnimated& animated : animations) {
        const int timeline = elements[animated.element].timeline;
        const int frame = timeline < static_cast<int>(state.frames.size()) ? state.frames[timeline] : 0;
        const std::optional<QString> value = animated.animation.ValueAt(frame * 1000.0 / framesPerSecond);
        if (!value)
            continue;
        if (animated.animation.Attribute() != QLatin1String("transform")) {
            edits.attributes[animated.element].insert(animated.animation.Attribute(), *value);
            continue;
        }
        if (!transforms.contains(animated.element))
            transforms.insert(animated.element,
                animated.animation.Additive() ? baseTransform(animated.element) : QString());
        QString& transform = transforms[animated.element];
        transform = animated.animation.Additive() ? transform + QLatin1Char(' ') + *value : *value;
    }
    for (auto it = state.overrides.begin(); it != state.overrides.end(); ++it) {
        const int element = it.key();
        if (element <= 0 || element >= static_cast<int>(elements.size()))
            continue;
        const TTargetOverride& o = it.value();
        if (!o.visible)
            edits.attributes[element].insert(QStringLiteral("display"), QStringLiteral("none"));
        if (o.opacity != 100)
            edits.attributes[element].insert(
                QStringLiteral("opacity"), Number(std::clamp(o.opacity, 0.0, 100.0) / 100));
        if (o.x != 0 || o.y != 0 || o.scaleX != 100 || o.scaleY != 100 || o.rotation != 0) {
            const QPointF centre = ElementBounds(element).center();
            const QString own
                = transforms.contains(element) ? transforms.value(element) : baseTransform(element);
            transforms[element] = QStringLiteral(
                "translate(%1 %2) translate(%3 %4) rotate(%5) scale(%6 %7) translate(%8 %9) %10")
                                      .arg(Number(o.x), Number(o.y), Number(centre.x()), Number(centre.y()),
                                          Number(o.rotation), Number(o.scaleX / 100), Number(o.scaleY / 100),
                                          Number(-centre.x()), Number(-centre.y()))
                                      .arg(own);
        }
    }
    for (auto it = transforms.begin(); it != transforms.end(); ++it)
        edits.attributes[it.key()].insert(QStringLiteral("transform"), it.value());
    for (int i = 1; i < static_cast<int>(elements.size()); ++i)
        if (!elements[i].variable.isEmpty())
            edits.contents.insert(i, Escaped(state.variables.value(elements[i].variable)));
}

// Writes one element and what it holds, with the edits applied and the movie's own elements and animations
// left out.
void TMovieDocument::AppendElement(QString& out, int index, const TEdits& edits) const
{
    const TElement& element = elements[index];
    if (element.removed || edits.omitted.contains(index))
        return;
    const bool empty = element.selfClosing;
    const auto content = edits.contents.find(index);
    const auto attributes = edits.attributes.find(index);
    QString tag = text.mid(element.start, element.end - element.start);
    if (attributes != edits.attributes.end())
        tag = WithAttributes(tag, element.nameEnd - element.start, attributes.value());
    if (content != edits.contents.end()) {
        if (empty)
            tag = tag.left(tag.lastIndexOf(QLatin1Char('/'))) + QLatin1Char('>');
        out += tag;
        out += content.value();
        out += QStringLiteral("</%1>").arg(text.mid(element.start + 1, element.nameEnd - element.start - 1));
        return;
    }
    out += tag;
    if (empty)
        return;
    qsizetype pos = element.end;
    for (int child = index + 1; child <= element.lastDescendant; child = elements[child].lastDescendant + 1) {
        out += QStringView(text).mid(pos, elements[child].start - pos);
        AppendElement(out, child, edits);
        pos = elements[child].close;
    }
    out += QStringView(text).mid(pos, element.close - pos);
}

// The root's start tag (and what comes before it) and every definition.
QString TMovieDocument::Head() const
{
    const TElement& root = elements.front();
    QString head = text.left(root.end);
    if (root.selfClosing)
        head = head.left(head.lastIndexOf(QLatin1Char('/'))) + QLatin1Char('>');
    TEdits pictures;
    ImageEdits(pictures);
    for (int definition : definitions)
        AppendElement(head, definition, pictures);
    return head;
}

QByteArray TMovieDocument::WholeText(int lookIndex) const
{
    TEdits edits;
    LookEdits(lookIndex, edits);
    StateEdits(InitialState(), edits);
    QString out = text.left(elements.front().start);
    AppendElement(out, 0, edits);
    return out.toUtf8();
}

// One run as a document of its own: the root, the definitions and the run's elements.
QByteArray TMovieDocument::RunText(int lookIndex, int run, const TEdits& stateEdits) const
{
    TEdits edits = stateEdits;
    LookEdits(lookIndex, edits);
    QString out = Head();
    for (int i = runs[run].first; i <= runs[run].last; ++i)
        AppendElement(out, topLevel[i].element, edits);
    out += QStringLiteral("</%1>").arg(
        text.mid(elements.front().start + 1, elements.front().nameEnd - elements.front().start - 1));
    return out.toUtf8();
}

// Every changing run in one document, each in a group of its own that is drawn alone. Without a view box the
// groups' boxes are in the movie's own units, which is what drawing them one by one needs.
QByteArray TMovieDocument::DynamicText(
    int lookIndex, const std::vector<bool>& dynamicRuns, const TEdits& stateEdits) const
{
    static const QRegularExpression sizing(
        QStringLiteral("\\s(viewBox|preserveAspectRatio)\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
    TEdits edits = stateEdits;
    LookEdits(lookIndex, edits);
    QString out = Head();
    const TElement& root = elements.front();
    out.replace(root.start, root.end - root.start,
        QString(text.mid(root.start, root.end - root.start)).remove(sizing));
    for (int run = 0; run < static_cast<int>(runs.size()); ++run) {
        if (!dynamicRuns[run])
            continue;
        out += QStringLiteral(
            "<g id=\"%1\"><rect x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\" fill=\"none\" stroke=\"none\"/>")
                   .arg(DynamicRunId.arg(run), Number(viewBox.x()), Number(viewBox.y()),
                       Number(viewBox.width()), Number(viewBox.height()));
        for (int i = runs[run].first; i <= runs[run].last; ++i)
            AppendElement(out, topLevel[i].element, edits);
        out += QStringLiteral("</g>");
    }
    out += QStringLiteral("</%1>").arg(text.mid(root.start + 1, root.nameEnd - root.start - 1));
    return out.toUtf8();
}

std::vector<bool> TMovieDocument::DynamicRuns(const TMovieState& state) const
{
    std::vector<bool> dynamicRuns(runs.size());
    for (int run = 0; run < static_cast<int>(runs.size()); ++run)
        dynamicRuns[run] = runs[run].dynamic;
    for (auto it = state.overrides.begin(); it != state.overrides.end(); ++it) {
        if (it.key() <= 0 || it.key() >= static_cast<int>(elements.size()) || it.value() == TTargetOverride())
            continue;
        const int top = elements[it.key()].topLevel;
        for (int run = 0; run < static_cast<int>(runs.size()); ++run)
            if (top >= runs[run].first && top <= runs[run].last)
                dynamicRuns[run] = true;
    }
    return dynamicRuns;
}

bool TMovieDocument::LookTouchesRun(int lookIndex, int run) const
{
    if (lookIndex == 0)
        return true;
    const TMovieButton& button = buttons[(lookIndex - 1) / 2];
    const QString& shown = lookIndex % 2 == 1 ? button.overId : button.downId;
    if (shown.isEmpty() || !button.looksShown)
        return false;
    for (const QString& id : { button.id, shown }) {
        const int top = elements[ids.value(id)].topLevel;
        if (top >= runs[run].first && top <= runs[run].last)
            return true;
    }
    return false;
}

void TMovieDocument::BuildRenderers()
{
    renderers.clear();
    kept.clear();
    keptKey.clear();
    const int looks = 1 + 2 * static_cast<int>(buttons.size());
    renderers.resize(looks);
    const TEdits none;
    for (int look = 0; look < looks; ++look) {
        renderers[look].resize(runs.size());
        for (int run = 0; run < static_cast<int>(runs.size()); ++run)
            if (LookTouchesRun(look, run)) {
                const QByteArray patched = RunText(look, run, none);
                parsedBytes += patched.size();
                renderers[look][run] = std::make_unique<QSvgRenderer>(patched);
            }
    }
}

int TMovieDocument::LookIndex(int button, TButtonLook look) const
{
    if (button < 0 || button >= static_cast<int>(buttons.size()) || look == TButtonLook::Normal)
        return 0;
    return 1 + 2 * button + (look == TButtonLook::Down ? 1 : 0);
}

QSvgRenderer* TMovieDocument::RendererFor(int lookIndex, int run) const
{
    QSvgRenderer* renderer = renderers[lookIndex][run].get();
    return renderer ? renderer : renderers[0][run].get();
}

QRectF TMovieDocument::Fit(const QSizeF& size, const QRectF& area, TScaleMode mode)
{
    QSizeF scaled = size;
    switch (mode) {
    case TScaleMode::ExactFit:
        return area;
    case TScaleMode::NoScale:
        break;
    case TScaleMode::ShowAll:
        scaled = size.scaled(area.size(), Qt::KeepAspectRatio);
        break;
    case TScaleMode::NoBorder:
        scaled = size.scaled(area.size(), Qt::KeepAspectRatioByExpanding);
        break;
    }
    return QRectF(area.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
}

QRectF TMovieDocument::TargetRect(const QRectF& area, TScaleMode mode) const
{
    return Fit(viewBox.size(), area, mode);
}

QPointF TMovieDocument::ToDocument(const QPointF& point, const QRectF& target) const
{
    if (target.isEmpty())
        return viewBox.topLeft();
    return QPointF(viewBox.left() + (point.x() - target.left()) * viewBox.width() / target.width(),
        viewBox.top() + (point.y() - target.top()) * viewBox.height() / target.height());
}

bool TMovieDocument::Hidden(int element, const TMovieState& state) const
{
    for (int e = element; e > 0; e = elements[e].parent) {
        const auto found = state.overrides.find(e);
        if (found != state.overrides.end() && !found.value().visible)
            return true;
    }
    return false;
}

int TMovieDocument::ButtonAt(const QPointF& documentPoint, const TMovieState* state) const
{
    for (int i = static_cast<int>(buttons.size()) - 1; i >= 0; --i)
        if (ButtonBounds(i).contains(documentPoint) && !(state && Hidden(buttons[i].element, *state)))
            return i;
    return -1;
}

QRectF TMovieDocument::ButtonBounds(int index) const
{
    const TMovieButton& button = buttons[index];
    // The renderer of the runs that change holds the last frame's state; a button in one of those runs is
    // there, also while one of its looks is shown in its place.
    if (dynamicDrawn && dynamic && !button.id.isEmpty() && dynamic->elementExists(button.id))
        return dynamic->transformForElement(button.id).mapRect(dynamic->boundsOnElement(button.id));
    return button.bounds;
}

void TMovieDocument::SetupPainter(QPainter& painter, bool smooth) const
{
    painter.setRenderHint(QPainter::Antialiasing, smooth);
    painter.setRenderHint(QPainter::TextAntialiasing, smooth);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

QSvgRenderer* TMovieDocument::DynamicRenderer(
    int lookIndex, const TMovieState& state, const std::vector<bool>& dynamicRuns)
{
    dynamicDrawn = std::any_of(dynamicRuns.begin(), dynamicRuns.end(), [](bool d) { return d; });
    if (!dynamicDrawn)
        return nullptr;
    TEdits edits;
    StateEdits(state, edits);
    const QByteArray textNow = DynamicText(lookIndex, dynamicRuns, edits);
    if (!dynamic || textNow != dynamicText) {
        dynamic = std::make_unique<QSvgRenderer>(textNow);
        dynamicText = textNow;
    }
    return dynamic.get();
}

void TMovieDocument::Render(QPainter& painter, const QRectF& target, int button, TButtonLook look)
{
    const int lookIndex = LookIndex(button, look);
    const TMovieState state = InitialState();
    const std::vector<bool> dynamicRuns = DynamicRuns(state);
    QSvgRenderer* changing = DynamicRenderer(lookIndex, state, dynamicRuns);
    for (int run = 0; run < static_cast<int>(runs.size()); ++run) {
        if (dynamicRuns[run]) {
            const QString id = DynamicRunId.arg(run);
            changing->render(&painter, id, MapRect(changing->boundsOnElement(id), viewBox, target));
        } else {
            RendererFor(lookIndex, run)->render(&painter, target);
        }
    }
}

void TMovieDocument::RenderFrame(QImage& frame, const QRectF& target, bool smooth, int button,
    TButtonLook look, const TMovieState* givenState, const QTransform& view)
{
    const TMovieState initial = givenState ? TMovieState() : InitialState();
    const TMovieState& state = givenState ? *givenState : initial;
    const QString key = QStringLiteral("%1x%2@%3:%4,%5,%6,%7:%8:%9,%10,%11,%12,%13,%14")
                            .arg(frame.width())
                            .arg(frame.height())
                            .arg(frame.devicePixelRatio())
                            .arg(target.x())
                            .arg(target.y())
                            .arg(target.width())
                            .arg(target.height())
                            .arg(smooth)
                            .arg(view.m11())
                            .arg(view.m12())
                            .arg(view.m21())
                            .arg(view.m22())
                            .arg(view.dx())
                            .arg(view.dy());
    if (key != keptKey) {
        kept.clear();
        keptKey = key;
    }
    const int lookIndex = LookIndex(button, look);
    const std::vector<bool> dynamicRuns = DynamicRuns(state);
    QSvgRenderer* changing = DynamicRenderer(lookIndex, state, dynamicRuns);
    QPainter painter(&frame);
    SetupPainter(painter, smooth);
    for (int run = 0; run < static_cast<int>(runs.size()); ++run) {
        if (dynamicRuns[run]) {
            const QString id = DynamicRunId.arg(run);
            painter.setTransform(view);
            changing->render(&painter, id, MapRect(changing->boundsOnElement(id), viewBox, target));
            painter.resetTransform();
            continue;
        }
        const qint64 slot = static_cast<qint64>(renderers[lookIndex][run] ? lookIndex : 0) << 32 | run;
        auto found = kept.find(slot);
        if (found == kept.end()) {
            QImage image(frame.size(), QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(frame.devicePixelRatio());
            image.fill(Qt::transparent);
            QPainter runPainter(&image);
            SetupPainter(runPainter, smooth);
            runPainter.setTransform(view);
            RendererFor(lookIndex, run)->render(&runPainter, target);
            runPainter.end();
            found = kept.insert(slot, image);
        }
        painter.drawImage(QPointF(0, 0), found.value());
    }
}

} // namespace Mrv
