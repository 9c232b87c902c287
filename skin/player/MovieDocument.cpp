#include "MovieDocument.h"

#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <algorithm>

namespace Mrv {

namespace {

constexpr const char* SvgNamespace = "http://www.w3.org/2000/svg";

// Sets the display attribute of one start tag, replacing a display attribute it already has.
QString WithDisplay(const QString& tag, qsizetype nameEnd, const char* value)
{
    static const QRegularExpression existing(QStringLiteral("\\sdisplay\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
    QString result = tag;
    result.remove(existing);
    result.insert(nameEnd, QStringLiteral(" display=\"%1\"").arg(QLatin1String(value)));
    return result;
}

bool IsAnimation(QStringView name)
{
    return name == QLatin1String("animate") || name == QLatin1String("animateTransform")
        || name == QLatin1String("animateColor") || name == QLatin1String("animateMotion")
        || name == QLatin1String("set");
}

// Children of the root that draw nothing themselves and may be referred to from anywhere: never hidden.
bool IsDefinition(QStringView name)
{
    return name == QLatin1String("defs") || name == QLatin1String("style") || name == QLatin1String("title")
        || name == QLatin1String("desc") || name == QLatin1String("metadata");
}

} // namespace

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

    // One pass over the XML: the root, the top-level elements, every element with an id and the buttons.
    QXmlStreamReader reader(doc->text);
    bool sawRoot = false;
    int depth = 0;
    int currentTop = -1;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        if (!sawRoot) {
            sawRoot = true;
            if (reader.name() != QLatin1String("svg") || reader.namespaceUri() != QLatin1String(SvgNamespace))
                return fail(QStringLiteral("The movie's root element is not an SVG element."));
            const QStringView fps
                = reader.attributes().value(QLatin1String(MovieNamespace), QLatin1String("fps"));
            if (!fps.isEmpty())
                doc->framesPerSecond = std::clamp(fps.toInt(), 1, 60);
            continue;
        }
        const qsizetype end = reader.characterOffset();
        const qsizetype start = doc->text.lastIndexOf(QLatin1Char('<'), end - 1);
        if (start < 0)
            continue;
        qsizetype nameEnd = start + 1;
        while (nameEnd < end && !doc->text.at(nameEnd).isSpace() && doc->text.at(nameEnd) != QLatin1Char('/')
            && doc->text.at(nameEnd) != QLatin1Char('>'))
            ++nameEnd;

        if (depth == 2) {
            if (IsDefinition(reader.name())) {
                currentTop = -1;
            } else {
                currentTop = static_cast<int>(doc->topLevel.size());
                doc->topLevel.push_back({ start, nameEnd, end, currentTop });
                doc->topLevelAnimated.push_back(IsAnimation(reader.name()));
            }
        } else if (currentTop >= 0 && IsAnimation(reader.name())) {
            doc->topLevelAnimated[currentTop] = true;
        }

        const QXmlStreamAttributes attributes = reader.attributes();
        const QString id = attributes.value(QLatin1String("id")).toString();
        if (id.isEmpty())
            continue;
        if (!doc->tags.contains(id))
            doc->tags.insert(id, { start, nameEnd, end, currentTop });
        if (!attributes.hasAttribute(QLatin1String(MovieNamespace), QLatin1String("command")))
            continue;
        TMovieButton button;
        button.id = id;
        button.command = attributes.value(QLatin1String(MovieNamespace), QLatin1String("command")).toString();
        button.args = attributes.value(QLatin1String(MovieNamespace), QLatin1String("args")).toString();
        button.overId = attributes.value(QLatin1String(MovieNamespace), QLatin1String("over")).toString();
        button.downId = attributes.value(QLatin1String(MovieNamespace), QLatin1String("down")).toString();
        doc->buttons.push_back(button);
    }
    if (reader.hasError())
        return fail(QStringLiteral("The movie is not well-formed XML: %1 (line %2).")
                        .arg(reader.errorString())
                        .arg(reader.lineNumber()));
    if (!sawRoot)
        return fail(QStringLiteral("The movie has no root element."));

    // A look that names a missing element, or the button itself, is treated as absent.
    for (TMovieButton& button : doc->buttons) {
        if (!doc->tags.contains(button.overId) || button.overId == button.id)
            button.overId.clear();
        if (!doc->tags.contains(button.downId) || button.downId == button.id)
            button.downId.clear();
    }

    for (int i = 0; i < static_cast<int>(doc->topLevel.size()); ++i) {
        const bool animated = doc->topLevelAnimated[i];
        if (!doc->runs.empty() && doc->runs.back().animated == animated)
            doc->runs.back().last = i;
        else
            doc->runs.push_back({ i, i, animated });
    }

    // Every renderer parses the whole text, which then is the movie with a display attribute set on some of
    // its top-level elements and looks. Too many runs, or runs that would take the parsing past the budget
    // on their own, are drawn as one; only the looks that fit in what is left of the budget are kept.
    const qint64 perRenderer = doc->textBytes
        + static_cast<qint64>(sizeof(" display=\"inline\""))
            * (doc->topLevel.size() + 2 * doc->buttons.size() + 1);
    if (doc->runs.size() > static_cast<std::size_t>(MaxRuns)
        || (1 + static_cast<qint64>(doc->runs.size())) * perRenderer > MaxParsedBytes) {
        const bool animated = std::find(doc->topLevelAnimated.begin(), doc->topLevelAnimated.end(), true)
            != doc->topLevelAnimated.end();
        if (!doc->runs.empty())
            doc->runs = { { 0, static_cast<int>(doc->topLevel.size()) - 1, animated } };
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

    const QByteArray wholeText = doc->Patched(0, -1);
    doc->wholeBytes = wholeText.size();
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

// The document as drawn for one look, showing only one run (run -1: every run).
QByteArray TMovieDocument::Patched(int lookIndex, int run) const
{
    struct TEdit
    {
        TTagSpan span;
        const char* display;
    };
    QHash<qsizetype, TEdit> edits;
    if (run >= 0) {
        for (int i = 0; i < static_cast<int>(topLevel.size()); ++i)
            if (i < runs[run].first || i > runs[run].last)
                edits.insert(topLevel[i].start, { topLevel[i], "none" });
    }
    QString shown;
    QString hiddenButton;
    if (lookIndex > 0) {
        const TMovieButton& button = buttons[(lookIndex - 1) / 2];
        shown = lookIndex % 2 == 1 ? button.overId : button.downId;
        hiddenButton = button.id;
    }
    auto add = [&](const QString& id, const char* display) {
        if (id.isEmpty() || !tags.contains(id))
            return;
        const TTagSpan span = tags.value(id);
        if (!edits.contains(span.start))
            edits.insert(span.start, { span, display });
    };
    add(shown, "inline");
    add(hiddenButton, "none");
    for (const TMovieButton& button : buttons) {
        if (button.overId != shown)
            add(button.overId, "none");
        if (button.downId != shown)
            add(button.downId, "none");
    }
    std::vector<TEdit> ordered(edits.begin(), edits.end());
    std::sort(ordered.begin(), ordered.end(),
        [](const TEdit& a, const TEdit& b) { return a.span.start > b.span.start; });
    QString result = text;
    for (const TEdit& edit : ordered) {
        const qsizetype length = edit.span.end - edit.span.start;
        const QString tag = result.mid(edit.span.start, length);
        result.replace(
            edit.span.start, length, WithDisplay(tag, edit.span.nameEnd - edit.span.start, edit.display));
    }
    return result.toUtf8();
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
        const int top = tags.value(id).topLevel;
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
    parsedBytes = wholeBytes;
    for (int look = 0; look < looks; ++look) {
        renderers[look].resize(runs.size());
        for (int run = 0; run < static_cast<int>(runs.size()); ++run)
            if (LookTouchesRun(look, run)) {
                const QByteArray patched = Patched(look, run);
                parsedBytes += patched.size();
                renderers[look][run] = std::make_unique<QSvgRenderer>(patched);
            }
    }
    // The animation clock of a renderer starts at its first drawing; draw each once now so that every run and
    // look runs in step.
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    for (const auto& look : renderers)
        for (const auto& renderer : look)
            if (renderer)
                renderer->render(&painter, QRectF(0, 0, 1, 1));
}

void TMovieDocument::RestartClock()
{
    BuildRenderers();
}

bool TMovieDocument::Animated() const
{
    return whole->animated();
}

int TMovieDocument::DurationMs() const
{
    return whole->animationDuration();
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

QRectF TMovieDocument::TargetRect(const QRectF& area, TScaleMode mode) const
{
    const QSizeF size = viewBox.size();
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

QPointF TMovieDocument::ToDocument(const QPointF& point, const QRectF& target) const
{
    if (target.isEmpty())
        return viewBox.topLeft();
    return QPointF(viewBox.left() + (point.x() - target.left()) * viewBox.width() / target.width(),
        viewBox.top() + (point.y() - target.top()) * viewBox.height() / target.height());
}

int TMovieDocument::ButtonAt(const QPointF& documentPoint) const
{
    for (int i = static_cast<int>(buttons.size()) - 1; i >= 0; --i)
        if (buttons[i].bounds.contains(documentPoint))
            return i;
    return -1;
}

void TMovieDocument::Render(QPainter& painter, const QRectF& target, int button, TButtonLook look)
{
    const int lookIndex = LookIndex(button, look);
    for (int run = 0; run < static_cast<int>(runs.size()); ++run)
        RendererFor(lookIndex, run)->render(&painter, target);
}

void TMovieDocument::SetupPainter(QPainter& painter, bool smooth) const
{
    painter.setRenderHint(QPainter::Antialiasing, smooth);
    painter.setRenderHint(QPainter::TextAntialiasing, smooth);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

void TMovieDocument::RenderFrame(
    QImage& frame, const QRectF& target, bool smooth, int button, TButtonLook look)
{
    const QString key = QStringLiteral("%1x%2@%3:%4,%5,%6,%7:%8")
                            .arg(frame.width())
                            .arg(frame.height())
                            .arg(frame.devicePixelRatio())
                            .arg(target.x())
                            .arg(target.y())
                            .arg(target.width())
                            .arg(target.height())
                            .arg(smooth);
    if (key != keptKey) {
        kept.clear();
        keptKey = key;
    }
    const int lookIndex = LookIndex(button, look);
    QPainter painter(&frame);
    SetupPainter(painter, smooth);
    for (int run = 0; run < static_cast<int>(runs.size()); ++run) {
        QSvgRenderer* renderer = RendererFor(lookIndex, run);
        if (runs[run].animated) {
            renderer->render(&painter, target);
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
            renderer->render(&runPainter, target);
            runPainter.end();
            found = kept.insert(slot, image);
        }
        painter.drawImage(QPointF(0, 0), found.value());
    }
}

} // namespace Mrv
