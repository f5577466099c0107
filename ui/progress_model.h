// The progress bar's numbers. They are part of the drive protocol, not only a display:
// WRITE BUFFER and READ BUFFER take their buffer offset from Position and their length
// from Step. The Qt bar only mirrors this model.
#pragma once

#include <cstdint>
#include <functional>

namespace ui {

class ProgressModel {
public:
    std::int64_t min() const { return min_; }
    std::int64_t max() const { return max_; }
    std::int64_t step() const { return step_; }
    std::int64_t position() const { return position_; }

    // Like a progress bar control: Position always stays within Min..Max.
    void setMin(std::int64_t value);
    void setMax(std::int64_t value);
    void setStep(std::int64_t value);
    void setPosition(std::int64_t value);

    // Advances Position by Step. A step past Max starts over from Min, as the
    // progress bar control does.
    void stepIt();

    // Called after every change, so a view can follow.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

private:
    void changed();

    std::int64_t min_ = 0;
    std::int64_t max_ = 100;
    std::int64_t step_ = 10;
    std::int64_t position_ = 0;
    std::function<void()> onChange_;
};

} // namespace ui
