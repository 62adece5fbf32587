// How often the log writer (log_line.h) lets a line through, so that a
// failure repeating in a loop cannot fill the disk with its lines.
//
// A condition is the exact text of a line (tag and message): two lines that
// differ in any byte, such as a process id, are two conditions. Per condition:
// a line is written and opens a one-second window for that text; identical
// lines within the window are counted, not written. When the window has ended,
// the next call of any text reports a count above zero in one extra line,
//   "(<N> more identical line[s] suppressed within 1 s) <tag><message>",
// written before that call's own line; the next identical line is written as
// usual and opens a new window.
//
// Over all conditions: at most kMaxLinesPerWindow lines are written in one
// second (a window opened by the first line after the last one ended); lines
// past it, whatever their text, are counted and reported as
//   "(<N> more line[s] suppressed within 1 s: over 50 lines a second)".
// Summaries come with their own prefix, so none reads as a line of the format
// that it counts. The table of open windows has one entry per line written
// in the last second, so never more than 2 * kMaxLinesPerWindow.
//
// Thread: not safe for concurrent use; the writer calls it under its lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

class LogRateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kWindow = std::chrono::seconds(1);
  static constexpr int kMaxLinesPerWindow = 50;

  // A summary line to write: its text (escaped by the writer like any
  // message) and the syslog priority of the lines it counts.
  struct Summary {
    std::string text;
    int priority = 0;
    bool operator==(const Summary&) const = default;
  };
  struct Decision {
    std::vector<Summary> summaries;  // written first, in this order
    bool write = false;              // whether the line itself is written
  };

  // Decides about the line `tag` + `message` offered at `now`.
  Decision admit(std::string_view tag, std::string_view message, int priority,
                 Clock::time_point now);

 private:
  struct Condition {
    std::string text;  // tag and message
    int priority = 0;
    Clock::time_point opened;
    uint64_t suppressed = 0;
  };

  std::vector<Condition> open_;  // conditions whose window may still be open
  bool ceilingOpen_ = false;
  Clock::time_point ceilingOpened_;
  int written_ = 0;        // lines written in the ceiling's window
  uint64_t overflow_ = 0;  // lines dropped by the ceiling in that window
  int overflowPriority_ = 0;
};

}  // namespace korvane
