#include "platform/embedding/method_result.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace korvane {
namespace {

struct Recorder {
  std::vector<FlutterResultValue> replies;
  FlutterResult make() {
    return FlutterResult([this](FlutterResultValue value) { replies.push_back(std::move(value)); });
  }
};

// Catches copies that each send their own reply instead of sharing one.
TEST(FlutterResultTest, CopiesShareOneReply) {
  Recorder recorder;
  FlutterResult result = recorder.make();
  FlutterResult copy = result;
  EXPECT_FALSE(copy.replied());
  copy(EncodableValue(true));
  EXPECT_TRUE(result.replied());
  ASSERT_EQ(recorder.replies.size(), 1u);
  EXPECT_EQ(std::get<EncodableValue>(recorder.replies[0]), EncodableValue(true));
}

// Catches a second call that reaches the other side as a second reply.
TEST(FlutterResultTest, SecondCallIsRefused) {
  Recorder recorder;
  FlutterResult result = recorder.make();
  result(EncodableValue(1));
#ifdef NDEBUG
  result(EncodableValue(2));
  ASSERT_EQ(recorder.replies.size(), 1u);
  EXPECT_EQ(std::get<EncodableValue>(recorder.replies[0]), EncodableValue(1));
#else
  EXPECT_DEATH(result(EncodableValue(2)), "more than once");
#endif
}

// Catches a handler that drops its result leaving the caller without any reply,
// and a reply sent while a copy is still held.
TEST(FlutterResultTest, LastCopyDestroyedUnrepliedSendsNotImplemented) {
  Recorder recorder;
  std::optional<FlutterResult> kept;
  {
    FlutterResult result = recorder.make();
    kept = result;
  }
  EXPECT_TRUE(recorder.replies.empty());
  kept.reset();
  ASSERT_EQ(recorder.replies.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedMarker>(recorder.replies[0]));
}

// Catches a not-implemented reply sent in addition to the real one.
TEST(FlutterResultTest, RepliedThenDestroyedSendsNothingMore) {
  Recorder recorder;
  {
    FlutterResult result = recorder.make();
    result(FlutterError{"code", "message", EncodableValue()});
  }
  ASSERT_EQ(recorder.replies.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<FlutterError>(recorder.replies[0]));
}

// Catches a result that keeps what its sink captured (a connection, a buffer)
// alive after the reply went out.
TEST(FlutterResultTest, SinkIsReleasedOnceReplied) {
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watch = held;
  FlutterResult result([held = std::move(held)](FlutterResultValue) {});
  result(EncodableValue());
  EXPECT_TRUE(watch.expired());
}

// Catches a result dropped on a worker thread that never answers (or races).
TEST(FlutterResultTest, DroppedOnAnotherThreadStillAnswersOnce) {
  Recorder recorder;
  std::optional<FlutterResult> result = recorder.make();
  std::thread worker(
      [moved = std::move(*result)]() mutable { FlutterResult gone = std::move(moved); });
  result.reset();
  worker.join();
  ASSERT_EQ(recorder.replies.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedMarker>(recorder.replies[0]));
}

}  // namespace
}  // namespace korvane
