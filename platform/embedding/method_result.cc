#include "platform/embedding/method_result.h"

#include <atomic>
#include <cassert>

#include "platform/main_thread.h"

namespace korvane {

struct FlutterResult::State {
  explicit State(Sink s) : sink(std::move(s)) {}
  // The last copy went without a reply: answer "not implemented" so the other
  // side still gets its one reply. This runs on whichever thread drops the
  // last copy; the sink must cope with that (the engine's does).
  ~State() {
    if (!replied.load(std::memory_order_acquire) && sink) sink(FlutterMethodNotImplemented);
  }

  Sink sink;
  std::atomic<bool> replied{false};
};

FlutterResult::FlutterResult(Sink sink) : state_(std::make_shared<State>(std::move(sink))) {}

void FlutterResult::operator()(FlutterResultValue value) const {
  KORVANE_ASSERT_MAIN_THREAD();
  const bool already = state_->replied.exchange(true, std::memory_order_acq_rel);
  assert(!already && "FlutterResult called more than once");
  if (already) return;
  // Release what the sink holds as soon as the reply is out.
  Sink sink = std::move(state_->sink);
  state_->sink = nullptr;
  if (sink) sink(std::move(value));
}

bool FlutterResult::replied() const { return state_->replied.load(std::memory_order_acquire); }

}  // namespace korvane
