#include "platform/linux/log/log_rate_limit.h"

#include <algorithm>

namespace korvane {
namespace {

using std::chrono::duration_cast;
using std::chrono::seconds;

std::string summaryPrefix(uint64_t count, std::string_view what) {
  std::string text = "(";
  text.append(std::to_string(count)).append(" more ").append(what);
  if (count != 1) text.push_back('s');
  text.append(" suppressed within ")
      .append(std::to_string(duration_cast<seconds>(LogRateLimiter::kWindow).count()))
      .append(" s");
  return text;
}

bool sameText(const std::string& text, std::string_view tag, std::string_view message) {
  return text.size() == tag.size() + message.size() && text.starts_with(tag) &&
         std::string_view(text).substr(tag.size()) == message;
}

}  // namespace

LogRateLimiter::Decision LogRateLimiter::admit(std::string_view tag, std::string_view message,
                                               int priority, Clock::time_point now) {
  Decision decision;
  std::erase_if(open_, [&](const Condition& condition) {
    if (now - condition.opened < kWindow) return false;
    if (condition.suppressed > 0) {
      decision.summaries.push_back(
          {summaryPrefix(condition.suppressed, "identical line") + ") " + condition.text,
           condition.priority});
    }
    return true;
  });
  if (ceilingOpen_ && now - ceilingOpened_ >= kWindow) {
    if (overflow_ > 0) {
      decision.summaries.push_back({summaryPrefix(overflow_, "line") + ": over " +
                                        std::to_string(kMaxLinesPerWindow) + " lines a second)",
                                    overflowPriority_});
    }
    ceilingOpen_ = false;
  }

  const auto same = std::find_if(open_.begin(), open_.end(), [&](const Condition& condition) {
    return sameText(condition.text, tag, message);
  });
  if (same != open_.end()) {
    ++same->suppressed;
    return decision;
  }
  if (!ceilingOpen_) {
    ceilingOpen_ = true;
    ceilingOpened_ = now;
    written_ = 0;
    overflow_ = 0;
  }
  if (written_ == kMaxLinesPerWindow) {
    // The most severe of the dropped lines' priorities (lower is more severe).
    overflowPriority_ = overflow_++ == 0 ? priority : std::min(overflowPriority_, priority);
    return decision;
  }
  ++written_;
  open_.push_back({std::string(tag).append(message), priority, now, 0});
  decision.write = true;
  return decision;
}

}  // namespace korvane
