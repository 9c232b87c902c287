#include "MovieAnimation.h"

#include <QColor>
#include <QRegularExpression>
#include <cmath>

namespace Mrv {

namespace {

std::vector<double> Numbers(const QString& text, bool* ok)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    std::vector<double> numbers;
    *ok = true;
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        bool good = false;
        numbers.push_back(part.toDouble(&good));
        *ok = *ok && good;
    }
    *ok = *ok && !numbers.empty();
    return numbers;
}

QString Join(const std::vector<double>& numbers)
{
    QStringList parts;
    for (double n : numbers)
        parts << QString::number(n, 'g', 10);
    return parts.join(QLatin1Char(' '));
}

} // namespace

std::optional<double> ParseClockValue(QStringView text)
{
    const QString value = text.trimmed().toString();
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    double result = 0;
    if (value.contains(QLatin1Char(':'))) {
        const QStringList parts = value.split(QLatin1Char(':'));
        if (parts.size() > 3)
            return std::nullopt;
        for (const QString& part : parts) {
            const double n = part.toDouble(&ok);
            if (!ok || n < 0)
                return std::nullopt;
            result = result * 60 + n;
        }
        return result * 1000;
    }
    struct TUnit
    {
        const char* suffix;
        double factor;
    };
    for (const TUnit& unit :
        { TUnit { "ms", 1.0 }, TUnit { "min", 60000.0 }, TUnit { "h", 3600000.0 }, TUnit { "s", 1000.0 } }) {
        if (value.endsWith(QLatin1String(unit.suffix))) {
            result = value.chopped(static_cast<qsizetype>(strlen(unit.suffix))).toDouble(&ok);
            return ok && std::isfinite(result) ? std::optional<double>(result * unit.factor) : std::nullopt;
        }
    }
    result = value.toDouble(&ok);
    return ok && std::isfinite(result) ? std::optional<double>(result * 1000) : std::nullopt;
}

std::optional<TMovieAnimation> TMovieAnimation::Read(
    QStringView elementName, const QXmlStreamAttributes& attributes)
{
    TMovieAnimation animation;
    auto attr = [&attributes](const char* name) { return attributes.value(QLatin1String(name)).toString(); };
    if (elementName == QLatin1String("animateTransform")) {
        animation.kind = TKind::Transform;
        animation.attribute = QStringLiteral("transform");
        animation.transformType = attr("type");
        if (animation.transformType.isEmpty())
            animation.transformType = QStringLiteral("translate");
        static const QStringList types = { QStringLiteral("translate"), QStringLiteral("scale"),
            QStringLiteral("rotate"), QStringLiteral("skewX"), QStringLiteral("skewY") };
        if (!types.contains(animation.transformType))
            return std::nullopt;
    } else if (elementName == QLatin1String("animateColor")) {
        animation.kind = TKind::Color;
    } else if (elementName == QLatin1String("set")) {
        animation.kind = TKind::Set;
    } else if (elementName == QLatin1String("animate")) {
        animation.kind = TKind::Number;
    } else {
        return std::nullopt;
    }
    if (animation.kind != TKind::Transform)
        animation.attribute = attr("attributeName").trimmed();
    if (animation.attribute.isEmpty())
        return std::nullopt;
    animation.additive = attr("additive") == QLatin1String("sum");
    animation.freeze = attr("fill") == QLatin1String("freeze");
    animation.discrete = animation.kind == TKind::Set || attr("calcMode") == QLatin1String("discrete");

    const QString values = attr("values");
    if (animation.kind == TKind::Set) {
        animation.values = { attr("to") };
    } else if (!values.trimmed().isEmpty()) {
        for (const QString& v : values.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (!v.trimmed().isEmpty())
                animation.values << v.trimmed();
    } else {
        const QString from = attr("from");
        QString to = attr("to");
        const QString by = attr("by");
        if (to.isEmpty() && !by.isEmpty() && !from.isEmpty() && animation.kind != TKind::Color) {
            bool okFrom = false, okBy = false;
            std::vector<double> a = Numbers(from, &okFrom);
            const std::vector<double> b = Numbers(by, &okBy);
            if (okFrom && okBy) {
                for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
                    a[i] += b[i];
                to = Join(a);
            }
        }
        if (to.isEmpty())
            return std::nullopt;
        animation.values = from.isEmpty() ? QStringList { to } : QStringList { from, to };
    }
    if (animation.values.isEmpty())
        return std::nullopt;

    animation.beginMs = ParseClockValue(attr("begin")).value_or(0);
    const QString dur = attr("dur").trimmed();
    if (dur == QLatin1String("indefinite") || dur.isEmpty()) {
        if (animation.kind != TKind::Set)
            return std::nullopt;
        animation.durMs = Indefinite;
    } else {
        const std::optional<double> parsed = ParseClockValue(dur);
        if (!parsed || *parsed <= 0)
            return std::nullopt;
        animation.durMs = *parsed;
    }
    const QString repeatCount = attr("repeatCount").trimmed();
    const QString repeatDur = attr("repeatDur").trimmed();
    double active = animation.durMs;
    if (repeatCount == QLatin1String("indefinite") || repeatDur == QLatin1String("indefinite")) {
        active = Indefinite;
    } else {
        bool ok = false;
        const double count = repeatCount.toDouble(&ok);
        if (ok && count > 0)
            active = animation.durMs * count;
        if (const std::optional<double> span = ParseClockValue(repeatDur); span && *span > 0)
            active = repeatCount.isEmpty() ? *span : std::min(active, *span);
    }
    animation.activeMs = active;
    return animation;
}

double TMovieAnimation::EndMs() const
{
    return activeMs == Indefinite ? Indefinite : beginMs + activeMs;
}

std::optional<QString> TMovieAnimation::ValueAt(double ms) const
{
    const double local = ms - beginMs;
    if (local < 0)
        return std::nullopt;
    if (durMs == Indefinite)
        return Interpolate(0);
    double progress = 0;
    if (local >= activeMs) {
        if (!freeze)
            return std::nullopt;
        const double runs = activeMs / durMs;
        progress = runs - std::floor(runs);
        if (progress < 1e-9)
            progress = 1;
    } else {
        progress = std::fmod(local, durMs) / durMs;
    }
    return Interpolate(progress);
}

QString TMovieAnimation::Interpolate(double progress) const
{
    const int count = static_cast<int>(values.size());
    if (count == 1)
        return kind == TKind::Transform ? QStringLiteral("%1(%2)").arg(transformType, values.front())
                                        : values.front();
    double position = 0;
    int first = 0;
    double part = 0;
    if (discrete) {
        first = std::min(count - 1, static_cast<int>(progress * count));
    } else {
        position = progress * (count - 1);
        first = std::min(count - 2, static_cast<int>(std::floor(position)));
        part = position - first;
    }
    const QString& a = values.at(first);
    const QString& b = values.at(discrete ? first : first + 1);
    QString value;
    if (discrete) {
        value = a;
    } else if (kind == TKind::Color) {
        const QColor ca(a), cb(b);
        if (!ca.isValid() || !cb.isValid())
            value = part < 0.5 ? a : b;
        else
            value = QColor::fromRgbF(static_cast<float>(ca.redF() + (cb.redF() - ca.redF()) * part),
                static_cast<float>(ca.greenF() + (cb.greenF() - ca.greenF()) * part),
                static_cast<float>(ca.blueF() + (cb.blueF() - ca.blueF()) * part))
                        .name();
    } else {
        bool okA = false, okB = false;
        const std::vector<double> na = Numbers(a, &okA);
        const std::vector<double> nb = Numbers(b, &okB);
        if (!okA || !okB || na.size() != nb.size()) {
            value = part < 0.5 ? a : b;
        } else {
            std::vector<double> mixed(na.size());
            for (std::size_t i = 0; i < na.size(); ++i)
                mixed[i] = na[i] + (nb[i] - na[i]) * part;
            value = Join(mixed);
        }
    }
    return kind == TKind::Transform ? QStringLiteral("%1(%2)").arg(transformType, value) : value;
}

} // namespace Mrv
