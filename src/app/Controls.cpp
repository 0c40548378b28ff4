#include "app/Controls.h"

#include <algorithm>
#include <utility>

namespace cau {

Control::Control(std::string name, Bounds bounds, std::string caption)
    : name_(std::move(name)), bounds_(bounds), caption_(std::move(caption)) {}

void Control::Notify() {
  if (observer_)
    observer_->Changed(*this);
}

namespace {
template <typename T>
bool Assign(T& field, const T& value) {
  if (field == value)
    return false;
  field = value;
  return true;
}
}  // namespace

void Control::SetCaption(std::string_view caption) {
  if (Assign(caption_, std::string(caption)))
    Notify();
}
void Control::SetVisible(bool visible) {
  if (Assign(visible_, visible))
    Notify();
}
void Control::SetEnabled(bool enabled) {
  if (Assign(enabled_, enabled))
    Notify();
}
void Control::SetHint(std::string_view hint) {
  if (Assign(hint_, std::string(hint)))
    Notify();
}
void Control::SetBold(bool bold) {
  if (Assign(bold_, bold))
    Notify();
}
void Control::SetSmallFont(bool small) {
  if (Assign(smallFont_, small))
    Notify();
}
void Control::SetFontColor(Color color) {
  if (Assign(fontColor_, color))
    Notify();
}
void Control::SetBackground(Color color) {
  if (Assign(background_, color))
    Notify();
}
void Control::SetAlignment(Alignment alignment) {
  if (Assign(alignment_, alignment))
    Notify();
}

void TProgressBar::SetPosition(int position) {
  if (Assign(position_, std::clamp(position, 0, max_)))
    Notify();
}

void TProgressBar::SetMax(int max) {
  max = std::max(max, 0);
  const bool maxChanged = Assign(max_, max);
  const bool positionChanged = Assign(position_, std::min(position_, max));
  if (maxChanged || positionChanged)
    Notify();
}

void TGauge::SetProgress(int progress) {
  if (Assign(progress_, std::clamp(progress, 0, 100)))
    Notify();
}

void TLogPane::Append(std::string text, Color color) {
  lines_.push_back({std::move(text), color});
  if (Observer())
    Observer()->LineAdded(*this, lines_.back());
}

}  // namespace cau
