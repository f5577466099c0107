#include "progress_model.h"

#include <algorithm>

namespace ui {

void ProgressModel::setMin(std::int64_t value)
{
    min_ = value;
    if (max_ < min_)
        max_ = min_;
    position_ = std::clamp(position_, min_, max_);
    changed();
}

void ProgressModel::setMax(std::int64_t value)
{
    max_ = value;
    if (min_ > max_)
        min_ = max_;
    position_ = std::clamp(position_, min_, max_);
    changed();
}

void ProgressModel::setStep(std::int64_t value)
{
    step_ = value;
    changed();
}

void ProgressModel::setPosition(std::int64_t value)
{
    position_ = std::clamp(value, min_, max_);
    changed();
}

void ProgressModel::stepIt()
{
    std::int64_t next = position_ + step_;
    if (next > max_)
        next = min_ + (next - max_);
    position_ = std::clamp(next, min_, max_);
    changed();
}

void ProgressModel::changed()
{
    if (onChange_)
        onChange_();
}

} // namespace ui
