// The controls of a window as plain values. A front end renders them; every
// change tells the observer, so the front end can repaint what changed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cau {

class Control;
class TLogPane;
struct LogLine;

// Colours the windows use, by role; the front end picks the shades.
enum class Color { Default, WindowText, Red, White, Light3D, SkyBlue };

class ControlObserver {
 public:
  virtual ~ControlObserver() = default;
  virtual void Changed(const Control& control) = 0;
  virtual void LineAdded(const TLogPane& pane, const LogLine& line) = 0;
};

// Left, top, width, height in pixels; a width or height of 0 sizes itself.
struct Bounds {
  int left = 0, top = 0, width = 0, height = 0;
};

enum class Alignment { Left, Right };

class Control {
 public:
  Control(std::string name, Bounds bounds, std::string caption = {});
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  void SetObserver(ControlObserver* observer) { observer_ = observer; }

  const std::string& Name() const { return name_; }
  const Bounds& GetBounds() const { return bounds_; }
  // For right-aligned labels `left` is the right edge.
  Alignment GetAlignment() const { return alignment_; }
  const std::string& Caption() const { return caption_; }
  bool Visible() const { return visible_; }
  bool Enabled() const { return enabled_; }
  const std::string& Hint() const { return hint_; }
  bool Bold() const { return bold_; }
  bool SmallFont() const { return smallFont_; }
  Color FontColor() const { return fontColor_; }
  Color Background() const { return background_; }

  void SetCaption(std::string_view caption);
  void SetVisible(bool visible);
  void SetEnabled(bool enabled);
  void SetHint(std::string_view hint);
  void SetBold(bool bold);
  void SetSmallFont(bool small);
  void SetFontColor(Color color);
  void SetBackground(Color color);
  void SetAlignment(Alignment alignment);

 protected:
  void Notify();
  ControlObserver* Observer() const { return observer_; }

 private:
  std::string name_;
  Bounds bounds_;
  std::string caption_;
  std::string hint_;
  Alignment alignment_ = Alignment::Left;
  bool visible_ = true, enabled_ = true, bold_ = false, smallFont_ = false;
  Color fontColor_ = Color::WindowText, background_ = Color::Default;
  ControlObserver* observer_ = nullptr;
};

using TLabel = Control;
using TButton = Control;
using TGroupBox = Control;
using TMenuItem = Control;
using TImage = Control;

// A progress bar from 0 to its maximum.
class TProgressBar : public Control {
 public:
  using Control::Control;
  int Position() const { return position_; }
  int Max() const { return max_; }
  void SetPosition(int position);
  // A negative maximum counts as 0; the position stays within the range.
  void SetMax(int max);
  void StepIt() { SetPosition(position_ + 1); }

 private:
  int position_ = 0, max_ = 100;
};

// The overall gauge, 0 to 100.
class TGauge : public Control {
 public:
  using Control::Control;
  int Progress() const { return progress_; }
  void SetProgress(int progress);

 private:
  int progress_ = 0;
};

struct LogLine {
  std::string text;  // may hold line breaks
  Color color = Color::WindowText;
};

// The rich-text log pane: coloured lines, appended at the end.
class TLogPane : public Control {
 public:
  using Control::Control;
  const std::vector<LogLine>& Lines() const { return lines_; }
  void Append(std::string text, Color color);

 private:
  std::vector<LogLine> lines_;
};

}  // namespace cau
