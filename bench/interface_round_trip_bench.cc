// Round trip of a method call over the interface connection, against a bare
// blocking echo measured in the same run.
//
//   BareEcho40        a 40-byte frame echoed over a Unix socketpair by a plain
//                     thread: the floor any socket round trip pays.
//   QueuedHasQuarantine  "hasQuarantine" through the real engine and the real
//                     install-location channel: decoded on the main thread,
//                     looked up on the worker queue, replied from the main thread.
//   MainThreadRevealInFinder  "revealInFinder" without arguments, answered on
//                     the main thread.
//   MainThreadRevealWhileWorkerBusy  the same while the worker queue is kept
//                     busy with long items.
//
// Each reports the median and p99 of single round trips in microseconds, and
// the channel runs report their median as a ratio to the echo's (target for
// the queued call: <= 3; for the reply while the worker is busy: p99 <= 0.8 ms).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
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

#include "install_location/channel/macos_install_location_channel.h"
#include "platform/dispatch_queue.h"
#include "platform/embedding/method_channel.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/linux/engine/interface_engine.h"
#include "platform/linux/engine/interface_frame.h"
#include "platform/main_loop.h"
#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/fakes/fake_workspace.h"
#include "testing/fakes/forwarding_file_system.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 1000;
constexpr int kRoundTrips = 20000;

double echoMedianMicros = 0;

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

int connectTo(const std::string& path) { return testing::connectUnixSocket(path); }

// Reads one whole frame into `frame`; false when the stream ends or it is too big.
bool readFrame(int fd, std::vector<uint8_t>& frame) {
  frame.resize(4);
  if (!readAll(fd, frame.data(), 4)) return false;
  const uint32_t length = frame[0] | frame[1] << 8 | frame[2] << 16 | uint32_t{frame[3]} << 24;
  if (length > kMaxFrameLength) return false;
  frame.resize(4 + length);
  return readAll(fd, frame.data() + 4, length);
}

// Round trips of `call` on the "macos_install_location" channel of a real
// engine, from a client thread while this (main) thread runs the main loop.
// With `busyWorker`, a second client keeps a long item (a 20 ms lookup)
// queued on the worker the whole time.
void channelRoundTrips(benchmark::State& state, const FlutterMethodCall& call, bool busyWorker) {
  testing::TempDir dir;
  testing::CapturingDiagnosticLog logger;
  testing::ForwardingFileSystem slow;  // its attribute lookups take 20 ms: a long work item
  slow.beforeCall = [](std::string_view, const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  testing::FakeWorkspace workspace;
  PlatformServices services{busyWorker ? static_cast<FileSystem&>(slow) : realFileSystem(),
                            workspace,
                            logger,
                            realBundleReader(),
                            realApplicationFolders(),
                            realLoginItems(),
                            realUserDefaults(),
                            realSystemVersion(),
                            realLoginItemLogger()};
  InterfaceEngine engine(logger);
  MacosInstallLocationChannel::register_(engine.binaryMessenger(), services);
  if (auto failure = engine.start(dir.file("bench.sock"))) {
    state.SkipWithError(failure->message.c_str());
    return;
  }
  const auto frame = *encodeMessageFrame(1, "macos_install_location",
                                         StandardMethodCodec::instance().encodeMethodCall(call));
  const auto longItem =
      *encodeMessageFrame(2, "macos_install_location",
                          StandardMethodCodec::instance().encodeMethodCall(
                              {"hasQuarantine", EncodableMap{{"path", dir.path()}}}));
  const int rounds = busyWorker ? kRoundTrips / 4 : kRoundTrips;

  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    std::atomic<bool> done{false};
    std::thread busy;
    if (busyWorker) {
      // Keeps two long items outstanding: the worker never runs dry.
      busy = std::thread([&] {
        const int fd = connectTo(engine.interfaceSocketPath());
        std::vector<uint8_t> reply;
        writeAll(fd, longItem.data(), longItem.size());
        while (!done && writeAll(fd, longItem.data(), longItem.size()) && readFrame(fd, reply)) {
        }
        close(fd);
      });
    }
    std::thread client([&] {
      const int fd = connectTo(engine.interfaceSocketPath());
      std::vector<uint8_t> reply;
      for (int i = 0; fd >= 0 && i < kWarmUp + rounds; ++i) {
        const auto start = Clock::now();
        if (!writeAll(fd, frame.data(), frame.size()) || !readFrame(fd, reply)) break;
        const std::chrono::duration<double, std::micro> took = Clock::now() - start;
        if (i >= kWarmUp) micros.push_back(took.count());
      }
      close(fd);
      done = true;
      mainQueue().async([] {});  // wakes the loop to see `done`
    });
    runMainLoopUntil([&] { return done.load(); }, std::chrono::minutes(2));
    client.join();
    if (busy.joinable()) {
      // Let the busy client's last items finish so the next run starts idle.
      runMainLoopUntil([] { return false; }, std::chrono::milliseconds(100));
      busy.join();
    }
  }
  if (micros.size() < static_cast<size_t>(rounds)) {
    state.SkipWithError("the round trips did not complete");
    return;
  }
  report(state, micros, false);
}

// A queued call: decoded on the main thread, run on the worker queue, replied
// on the main thread.
void QueuedHasQuarantine(benchmark::State& state) {
  testing::TempDir dir;
  channelRoundTrips(state, {"hasQuarantine", EncodableMap{{"path", dir.path()}}}, false);
}

// A call answered on the main thread.
void MainThreadRevealInFinder(benchmark::State& state) {
  channelRoundTrips(state, {"revealInFinder", EncodableValue()}, false);
}

// The main-thread reply while the worker is busy with long items: its p99 is
// what the user interface waits at worst (target: well under a 16.7 ms frame).
void MainThreadRevealWhileWorkerBusy(benchmark::State& state) {
  channelRoundTrips(state, {"revealInFinder", EncodableValue()}, true);
}

BENCHMARK(BareEcho40)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QueuedHasQuarantine)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MainThreadRevealInFinder)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MainThreadRevealWhileWorkerBusy)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();
