// Round trip of a method call over the interface connection, against a bare
// blocking echo measured in the same run.
//
//   BareEcho40        a 40-byte frame echoed over a Unix socketpair by a plain
//                     thread: the floor any socket round trip pays.
//   EngineQueuedCall  "hasQuarantine" through the real engine on its socket:
//                     decoded on the main thread, answered on a worker thread,
//                     carried back to the main thread and sent from there.
//   EngineMainThreadCall  the same call answered on the main thread.
//
// Each reports the median and p99 of single round trips in microseconds, and
// the engine runs report their median as a ratio to the echo's (target <= 3).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch_queue.h"
#include "platform/embedding/flutter_engine.h"
#include "platform/embedding/interface_frame.h"
#include "platform/embedding/method_channel.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/main_loop.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 1000;
constexpr int kRoundTrips = 20000;

double echoMedianMicros = 0;

class NullLogger final : public Logger {
 public:
  void log(std::string_view) override {}
};

// A plain worker thread with a FIFO queue, standing in for the worker queue.
class Worker {
 public:
  Worker() : thread_([this] { run(); }) {}
  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_one();
    thread_.join();
  }
  void post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
  }

 private:
  void run() {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool readAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void report(benchmark::State& state, std::vector<double>& micros, bool isEcho) {
  std::sort(micros.begin(), micros.end());
  const double median = micros[micros.size() / 2];
  state.counters["median_us"] = median;
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  if (isEcho) {
    echoMedianMicros = median;
  } else if (echoMedianMicros > 0) {
    state.counters["x_echo_median"] = median / echoMedianMicros;
  }
}

void BareEcho40(benchmark::State& state) {
  std::vector<double> micros;
  for (auto _ : state) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
      state.SkipWithError("socketpair failed");
      return;
    }
    std::thread echo([fd = fds[1]] {
      uint8_t buffer[40];
      while (readAll(fd, buffer, sizeof buffer) && writeAll(fd, buffer, sizeof buffer)) {
      }
    });
    uint8_t frame[40];
    std::memset(frame, 0x5A, sizeof frame);
    micros.clear();
    for (int i = 0; i < kWarmUp + kRoundTrips; ++i) {
      const auto start = Clock::now();
      if (!writeAll(fds[0], frame, sizeof frame) || !readAll(fds[0], frame, sizeof frame)) break;
      const std::chrono::duration<double, std::micro> took = Clock::now() - start;
      if (i >= kWarmUp) micros.push_back(took.count());
    }
    shutdown(fds[0], SHUT_RDWR);
    echo.join();
    close(fds[0]);
    close(fds[1]);
  }
  report(state, micros, true);
}

// Drives round trips from a client thread while this (main) thread runs the
// engine's main loop.
void engineRoundTrips(benchmark::State& state, bool queued) {
  testing::TempDir dir;
  NullLogger logger;
  FlutterEngine engine(logger);
  if (auto failure = engine.start(dir.file("bench.sock"))) {
    state.SkipWithError(failure->message.c_str());
    return;
  }
  Worker worker;
  auto channel = FlutterMethodChannel::methodChannelWithName("macos_install_location",
                                                             engine.binaryMessenger());
  channel.setMethodCallHandler([&](const FlutterMethodCall& call, FlutterResult result) {
    // As the real handler does: read the path on the main thread, do the work
    // on the worker, reply on the main thread.
    const EncodableMap* arguments = call.arguments.asMap();
    const EncodableValue* path = arguments ? arguments->find("path") : nullptr;
    std::string copied = path && path->asString() ? *path->asString() : std::string();
    if (!queued) {
      result(EncodableValue::integer(copied.empty() ? 2 : 0));
      return;
    }
    worker.post([result = std::move(result), copied = std::move(copied)] {
      const int64_t answer = copied.empty() ? 2 : 0;
      mainQueue().async([result, answer] { result(EncodableValue::integer(answer)); });
    });
  });

  const auto call = StandardMethodCodec::instance().encodeMethodCall(
      FlutterMethodCall{"hasQuarantine", EncodableMap{{"path", "/opt/Korvane/Korvane.app"}}});
  const auto frame = *encodeMessageFrame(1, "macos_install_location", call);

  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    std::atomic<bool> done{false};
    std::thread client([&] {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path, engine.interfaceSocketPath().data(),
                  engine.interfaceSocketPath().size());
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        uint8_t reply[256];
        for (int i = 0; i < kWarmUp + kRoundTrips; ++i) {
          const auto start = Clock::now();
          if (!writeAll(fd, frame.data(), frame.size())) break;
          // One read usually brings the whole reply, as in the echo.
          size_t have = 0;
          size_t want = 4;
          while (have < want) {
            const ssize_t n = recv(fd, reply + have, sizeof reply - have, 0);
            if (n <= 0) break;
            have += static_cast<size_t>(n);
            if (have >= 4) {
              want = 4 + (reply[0] | reply[1] << 8 | reply[2] << 16 | uint32_t{reply[3]} << 24);
            }
          }
          if (have < want || want > sizeof reply) break;
          const std::chrono::duration<double, std::micro> took = Clock::now() - start;
          if (i >= kWarmUp) micros.push_back(took.count());
        }
      }
      close(fd);
      done = true;
      mainQueue().async([] {});  // wakes the loop to see `done`
    });
    runMainLoopUntil([&] { return done.load(); }, std::chrono::minutes(2));
    client.join();
  }
  if (micros.size() < kRoundTrips) {
    state.SkipWithError("the round trips did not complete");
    return;
  }
  report(state, micros, false);
}

void EngineQueuedCall(benchmark::State& state) { engineRoundTrips(state, true); }
void EngineMainThreadCall(benchmark::State& state) { engineRoundTrips(state, false); }

BENCHMARK(BareEcho40)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EngineQueuedCall)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EngineMainThreadCall)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();
