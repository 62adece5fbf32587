#include "install_location/channel/macos_install_location_channel.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "testing/capturing_logger.h"
#include "testing/forwarding_file_system.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// Records what the channel asks of the workspace.
class RecordingWorkspace final : public Workspace {
 public:
  void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) override {
    revealed.push_back(urls);
  }
  std::vector<RunningApplication> runningApplications() override { return {}; }
  bool unhide(const RunningApplication&) override { return false; }
  bool activate(const RunningApplication&, ActivationOptions) override { return false; }
  void openApplicationAtURL(const FileURL&, const OpenConfiguration&, OpenCompletion) override {}
  std::vector<std::vector<FileURL>> revealed;
};

// A reply as it reached the result callback.
struct Reply {
  std::optional<FlutterResultValue> value;
  bool onMainThread = false;
};

class ChannelTest : public ::testing::Test {
 protected:
  // Calls the handler and returns a slot that fills when the reply is made.
  std::shared_ptr<Reply> send(const std::string& method, EncodableValue arguments = {}) {
    return sendWith(services_, method, std::move(arguments));
  }

  static std::shared_ptr<Reply> sendWith(const PlatformServices& services,
                                         const std::string& method, EncodableValue arguments) {
    auto reply = std::make_shared<Reply>();
    MacosInstallLocationChannel::handleMethodCall(FlutterMethodCall{method, std::move(arguments)},
                                                  FlutterResult([reply](auto value) {
                                                    reply->value = std::move(value);
                                                    reply->onMainThread = isMainThread();
                                                  }),
                                                  services);
    return reply;
  }

  // Calls and waits for the reply.
  FlutterResultValue call(const std::string& method, EncodableValue arguments = {}) {
    auto reply = send(method, std::move(arguments));
    EXPECT_TRUE(runMainLoopUntil([&] { return reply->value.has_value(); }, 5s)) << method;
    EXPECT_TRUE(reply->onMainThread) << method;
    return reply->value.value_or(FlutterResultValue(FlutterMethodNotImplemented));
  }

  static EncodableValue pathArgs(EncodableValue path) {
    return EncodableValue(EncodableMap{{"path", std::move(path)}});
  }

  static FlutterResultValue integer(int64_t v) { return EncodableValue::integer(v); }
  static FlutterResultValue boolean(bool v) { return EncodableValue(v); }

  testing::TempDir dir_;
  RecordingWorkspace workspace_;
  testing::CapturingLogger logger_;
  FileSystem* fileSystem_ = &realFileSystem();
  PlatformServices services_ = PlatformServices(
      *fileSystem_, workspace_, logger_, realBundleReader(), realApplicationFolders(),
      realLoginItems(), standardUserDefaults(), realSystemVersion(), realLoginItemLogger());
};

// Catches a table compared without regard to case, or matching by prefix.
TEST_F(ChannelTest, NamesOutsideTheTableAreNotImplemented) {
  for (const char* name : {"HasQuarantine", "hasquarantine", "hasQuarantine ", " isDirWritable",
                           "revealinfinder", "REVEALINFINDER", "reveal", "", "unknownMethod"}) {
    EXPECT_EQ(call(name, pathArgs("/")), FlutterResultValue(FlutterMethodNotImplemented)) << name;
  }
}

// Catches a quarantine answer that does not follow the attribute.
TEST_F(ChannelTest, HasQuarantineOnRealFiles) {
  const std::string empty = dir_.file("empty-mark");
  const std::string marked = dir_.file("marked");
  const std::string plain = dir_.file("plain");
  for (const auto& p : {empty, marked, plain}) std::ofstream(p) << "x";
  if (setxattr(empty.c_str(), "user.com.apple.quarantine", "", 0, 0) != 0) {
    GTEST_SKIP() << "no user extended attributes on " << dir_.path();
  }
  const char mark[] = "0083;656f1e2a;Safari;";
  ASSERT_EQ(setxattr(marked.c_str(), "user.com.apple.quarantine", mark, sizeof mark - 1, 0), 0);
  ASSERT_EQ(setxattr(plain.c_str(), "user.other", "v", 1, 0), 0);
  ASSERT_EQ(symlink(empty.c_str(), dir_.file("link-to-marked").c_str()), 0);
  ASSERT_EQ(symlink(dir_.file("nowhere").c_str(), dir_.file("dangling").c_str()), 0);

  struct Case {
    EncodableValue args;
    int64_t expected;
  } cases[] = {
      {pathArgs(empty), 1},  // empty value still counts
      {pathArgs(marked), 1},
      {pathArgs(plain), 0},                            // other attributes only
      {pathArgs(dir_.path()), 0},                      // a folder without the mark
      {pathArgs(dir_.file("link-to-marked")), 1},      // follows the final link
      {pathArgs(dir_.file("dangling")), 2},            // link to nothing
      {pathArgs(dir_.file("missing")), 2},             // no such file
      {pathArgs(std::string(empty + '\0' + "x")), 2},  // NUL cannot name a file
      {pathArgs(""), 2},
      {pathArgs(EncodableValue(int32_t{1})), 2},  // number under "path"
      {pathArgs(EncodableValue()), 2},            // null under "path"
      {EncodableValue(), 2},                      // no arguments
      {EncodableValue(EncodableList{empty}), 2},  // a list, not a map
      {EncodableValue(EncodableMap{}), 2},        // an empty map
      {EncodableValue(EncodableMap{{"path", empty}, {EncodableValue(true), "x"}}), 2},
  };
  for (auto& c : cases) {
    EXPECT_EQ(call("hasQuarantine", c.args), integer(c.expected)) << c.expected;
  }
}

// Catches writability read from the wrong place or a missing path reading true.
TEST_F(ChannelTest, IsDirWritableOnRealFiles) {
  const std::string file = dir_.file("file");
  std::ofstream(file) << "x";
  EXPECT_EQ(call("isDirWritable", pathArgs(dir_.path())), boolean(true));
  EXPECT_EQ(call("isDirWritable", pathArgs(file)), boolean(true));  // a file counts too
  EXPECT_EQ(call("isDirWritable", pathArgs(dir_.file("missing"))), boolean(false));
  EXPECT_EQ(call("isDirWritable", pathArgs(EncodableValue(int32_t{3}))), boolean(false));
  EXPECT_EQ(call("isDirWritable", EncodableValue()), boolean(false));
  EXPECT_EQ(call("isDirWritable", EncodableValue(EncodableMap{})), boolean(false));
  EXPECT_EQ(call("isDirWritable", pathArgs(std::string(dir_.path() + '\0'))), boolean(false));
}

// Catches a reveal that waits for the worker, makes a wrong URL, or fails to reply.
TEST_F(ChannelTest, RevealInFinderRepliesTrueAtOnce) {
  auto reply = send("revealInFinder", pathArgs("/a b/c%20d.app"));
  ASSERT_TRUE(reply->value.has_value()) << "replied before the handler returned";
  EXPECT_EQ(*reply->value, boolean(true));
  ASSERT_EQ(workspace_.revealed.size(), 1u);
  EXPECT_EQ(workspace_.revealed[0],
            std::vector<FileURL>{FileURL::fileURLWithPath("/a b/c%20d.app")});

  for (EncodableValue args : {EncodableValue(), pathArgs(EncodableValue(int32_t{5})),
                              EncodableValue(EncodableList{"/x"})}) {
    reply = send("revealInFinder", args);
    ASSERT_TRUE(reply->value.has_value());
    EXPECT_EQ(*reply->value, boolean(true));
  }
  EXPECT_EQ(workspace_.revealed.size(), 1u) << "nothing is revealed without a path";
}

// Catches a relative path revealed without being taken against the working folder.
TEST_F(ChannelTest, RevealInFinderMakesRelativePathsAbsolute) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  send("revealInFinder", pathArgs("some/rel.app"));
  ASSERT_EQ(workspace_.revealed.size(), 1u);
  EXPECT_EQ(workspace_.revealed[0][0].path(), std::string(cwd) + "/some/rel.app");
}

// A file system whose attribute lookups wait until the test lets them go, and
// which records how many run at once and on which thread.
class GatedFileSystem final : public testing::ForwardingFileSystem {
 public:
  AttributeLookup extendedAttribute(const std::string& path, const std::string&) override {
    std::unique_lock<std::mutex> lock(mutex_);
    started.push_back(path);
    threads.push_back(std::this_thread::get_id());
    ++running;
    maxRunning = std::max(maxRunning, running);
    changed_.notify_all();
    changed_.wait(lock, [&] { return released > finished; });
    ++finished;
    --running;
    return AttributeLookup{AttributeLookup::Status::missing, 0, {}};
  }
  bool isWritableFile(const std::string&) override { return true; }

  void releaseOne() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++released;
    changed_.notify_all();
  }
  bool waitStarted(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return started.size() >= n; });
  }
  size_t startedCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started.size();
  }

  std::vector<std::string> started;
  std::vector<std::thread::id> threads;
  int running = 0;
  int maxRunning = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int released = 0;
  int finished = 0;
};

class OrderingTest : public ChannelTest {
 protected:
  GatedFileSystem gated_;
  PlatformServices gatedServices_ = PlatformServices(
      gated_, workspace_, logger_, realBundleReader(), realApplicationFolders(), realLoginItems(),
      standardUserDefaults(), realSystemVersion(), realLoginItemLogger());

  std::shared_ptr<Reply> sendGated(const std::string& method, EncodableValue args) {
    return sendWith(gatedServices_, method, std::move(args));
  }
};

// Catches a worker that runs items side by side or out of order, replies off
// the main thread, or holds main-thread replies behind queued work.
TEST_F(OrderingTest, QueuedWorkRunsOneAtATimeAndMainThreadRepliesOvertake) {
  auto first = sendGated("hasQuarantine", pathArgs("/first"));
  auto second = sendGated("hasQuarantine", pathArgs("/second"));
  ASSERT_TRUE(gated_.waitStarted(1));

  // The worker is busy: a main-thread method still answers at once.
  auto reveal = sendGated("revealInFinder", EncodableValue());
  ASSERT_TRUE(reveal->value.has_value());
  EXPECT_FALSE(first->value.has_value());

  // The second item does not start while the first is running.
  runMainLoopUntil([] { return false; }, 50ms);
  EXPECT_EQ(gated_.startedCount(), 1u);

  gated_.releaseOne();
  ASSERT_TRUE(runMainLoopUntil([&] { return first->value.has_value(); }, 5s));
  EXPECT_FALSE(second->value.has_value());
  ASSERT_TRUE(gated_.waitStarted(2));
  gated_.releaseOne();
  ASSERT_TRUE(runMainLoopUntil([&] { return second->value.has_value(); }, 5s));

  EXPECT_EQ(gated_.started, (std::vector<std::string>{"/first", "/second"}));
  EXPECT_EQ(gated_.maxRunning, 1);
  EXPECT_TRUE(first->onMainThread);
  EXPECT_TRUE(second->onMainThread);
  ASSERT_EQ(gated_.threads.size(), 2u);
  EXPECT_EQ(gated_.threads[0], gated_.threads[1]) << "one worker queue, reused";
  EXPECT_NE(gated_.threads[0], std::this_thread::get_id());
}

// Catches replies posted out of completion order when the main thread is busy.
TEST_F(ChannelTest, RepliesKeepSubmissionOrder) {
  std::vector<int> order;
  std::vector<std::shared_ptr<Reply>> replies;
  constexpr int kCalls = 500;
  for (int i = 0; i < kCalls; ++i) {
    auto slot = std::make_shared<Reply>();
    MacosInstallLocationChannel::handleMethodCall(
        FlutterMethodCall{i % 2 ? "isDirWritable" : "hasQuarantine", pathArgs(dir_.path())},
        FlutterResult([slot, &order, i](auto value) {
          slot->value = std::move(value);
          order.push_back(i);
        }),
        services_);
    replies.push_back(slot);
  }
  // Let the worker finish everything while the main thread is not listening.
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(runMainLoopUntil([&] { return order.size() == kCalls; }, 10s));
  for (int i = 0; i < kCalls; ++i) ASSERT_EQ(order[i], i);
}

}  // namespace
}  // namespace korvane
