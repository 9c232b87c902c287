#include "MovieTargets.h"

#include <cmath>

namespace Mrv {

int TMovieTargets::Timeline(int element) const
{
    return document.TimelineOf(element);
}

bool TMovieTargets::IsText(int property)
{
    return property == static_cast<int>(TTargetProperty::Name)
        || property == static_cast<int>(TTargetProperty::Path)
        || property == static_cast<int>(TTargetProperty::Label);
}

HResult TMovieTargets::Get(int element, int property, QVariant* value) const
{
    if (!value)
        return ResultPointer;
    if (element < 0 || property < 0 || property >= TargetPropertyCount)
        return ResultInvalidArg;
    const TTargetOverride o = state.overrides.value(element);
    const QRectF bounds = document.ElementBounds(element);
    const int timeline = Timeline(element);
    switch (static_cast<TTargetProperty>(property)) {
    case TTargetProperty::X:
        *value = o.x;
        break;
    case TTargetProperty::Y:
        *value = o.y;
        break;
    case TTargetProperty::ScaleX:
        *value = o.scaleX;
        break;
    case TTargetProperty::ScaleY:
        *value = o.scaleY;
        break;
    case TTargetProperty::Rotation:
        *value = o.rotation;
        break;
    case TTargetProperty::Opacity:
        *value = o.opacity;
        break;
    case TTargetProperty::Visible:
        *value = o.visible ? 1.0 : 0.0;
        break;
    case TTargetProperty::Width:
        *value = bounds.width() * std::abs(o.scaleX) / 100;
        break;
    case TTargetProperty::Height:
        *value = bounds.height() * std::abs(o.scaleY) / 100;
        break;
    case TTargetProperty::CurrentFrame:
        *value = static_cast<double>(clock.Frame(timeline));
        break;
    case TTargetProperty::TotalFrames:
        *value = static_cast<double>(clock.Total(timeline));
        break;
    case TTargetProperty::Name:
        *value = document.ElementId(element);
        break;
    case TTargetProperty::Path:
        *value = document.ElementPath(element);
        break;
    case TTargetProperty::Label:
        *value = document.Timelines()[timeline].LabelOf(clock.Frame(timeline));
        break;
    }
    return ResultOk;
}

HResult TMovieTargets::Set(int element, int property, double value)
{
    if (element < 0 || property < 0 || property >= TargetPropertyCount || IsText(property)
        || property == static_cast<int>(TTargetProperty::TotalFrames) || !std::isfinite(value))
        return ResultInvalidArg;
    TTargetOverride o = state.overrides.value(element);
    const QRectF bounds = document.ElementBounds(element);
    switch (static_cast<TTargetProperty>(property)) {
    case TTargetProperty::X:
        o.x = value;
        break;
    case TTargetProperty::Y:
        o.y = value;
        break;
    case TTargetProperty::ScaleX:
        o.scaleX = value;
        break;
    case TTargetProperty::ScaleY:
        o.scaleY = value;
        break;
    case TTargetProperty::Rotation:
        o.rotation = std::fmod(value, 360.0);
        break;
    case TTargetProperty::Opacity:
        o.opacity = std::clamp(value, 0.0, 100.0);
        break;
    case TTargetProperty::Visible:
        o.visible = value != 0;
        break;
    case TTargetProperty::Width:
        if (bounds.width() <= 0)
            return ResultInvalidArg;
        o.scaleX = value / bounds.width() * 100;
        break;
    case TTargetProperty::Height:
        if (bounds.height() <= 0)
            return ResultInvalidArg;
        o.scaleY = value / bounds.height() * 100;
        break;
    case TTargetProperty::CurrentFrame:
        return clock.Seek(Timeline(element), static_cast<int>(value)) ? ResultOk : ResultInvalidArg;
    default:
        return ResultInvalidArg;
    }
    if (o == TTargetOverride())
        state.overrides.remove(element);
    else
        state.overrides.insert(element, o);
    return ResultOk;
}

HResult TMovieTargets::SetText(int element, int property, const QString& value)
{
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (IsText(property) || !ok)
        return ResultInvalidArg;
    return Set(element, property, number);
}

} // namespace Mrv
