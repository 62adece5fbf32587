// The host executable end to end: started as a process, driven over its
// interface connection the way the user interface drives it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/embedding/standard_method_codec.h"
#include "platform/linux/engine/interface_frame.h"
#include "testing/bundle_maker.h"
#include "testing/child_process.h"
#include "testing/interface_test_client.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// A running `korvane`, its standard output and error captured.
class HostProcess {
 public:
  // How the host is started, beyond its arguments.
  struct Options {
    std::string binary = KORVANE_HOST_BINARY;
    std::optional<rlim_t> maxDescriptors;  // its RLIMIT_NOFILE
    std::string errorFile;                 // standard error to this file, not a pipe
  };

  explicit HostProcess(const std::vector<std::string>& args,
                       std::string binary = KORVANE_HOST_BINARY)
      : HostProcess(args, Options{std::move(binary), std::nullopt, {}}) {}

  HostProcess(const std::vector<std::string>& args, Options options) {
    std::string& binary = options.binary;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      if (!options.errorFile.empty()) {
        const int file = open(options.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, STDERR_FILENO);
      }
      if (options.maxDescriptors) {
        const rlimit limit{*options.maxDescriptors, *options.maxDescriptors};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
      }
      close(out[0]);
      close(err[0]);
      std::vector<char*> argv;
      argv.push_back(binary.data());
      std::vector<std::string> copy = args;
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }

  ~HostProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  // Reads standard output until its first line or `timeout`.
  std::string readLine(std::chrono::milliseconds timeout = 10s) {
    return testing::readLineWithin(out_, timeout);
  }

  // Waits for the exit; returns the exit status, or -1 when killed by a signal.
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Everything left on a stream (after exit).
  std::string rest(bool stderrStream) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(stderrStream ? err_ : out_, buffer, sizeof buffer)) > 0)
      text.append(buffer, n);
    return text;
  }

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool exited_ = false;
};

std::vector<uint8_t> encodeCall(const std::string& method, EncodableValue args) {
  return StandardMethodCodec::instance().encodeMethodCall({method, std::move(args)});
}

EncodableValue pathArgs(const std::string& path) {
  return EncodableValue(EncodableMap{{"path", path}});
}

class HostProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The host's login items, preferences and instance endpoint live in this
    // test's folder.
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    socket_ = dir_.file("interface.sock");
    host_ = std::make_unique<HostProcess>(std::vector<std::string>{"--interface-socket", socket_});
    ready_ = host_->readLine();
  }

  testing::TempDir dir_;
  std::string socket_;
  std::unique_ptr<HostProcess> host_;
  std::string ready_;
};

// Catches a missing or malformed ready line, output on standard output beside
// it, a signal that kills the host instead of ending its main loop, or a
// socket file left behind because the windows were not torn down.
TEST_F(HostProcessTest, ReportsReadyAndStopsCleanlyOnSignals) {
  ASSERT_EQ(ready_, "interface-socket=" + socket_ + "\n");
  struct stat st;
  ASSERT_EQ(lstat(socket_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(kill(host_->pid(), SIGTERM), 0);
  EXPECT_EQ(host_->wait(), 0);
  EXPECT_EQ(host_->rest(false), "") << "nothing but the ready line on standard output";
  EXPECT_EQ(host_->rest(true), "") << "nothing on standard error either";
  EXPECT_NE(lstat(socket_.c_str(), &st), 0) << "socket file removed on exit";

  const std::string socket = dir_.file("second.sock");
  HostProcess second({"--interface-socket", socket});
  ASSERT_EQ(second.readLine(), "interface-socket=" + socket + "\n");
  ASSERT_EQ(kill(second.pid(), SIGINT), 0);
  EXPECT_EQ(second.wait(), 0);
  EXPECT_NE(lstat(socket.c_str(), &st), 0);
}

// Catches --help that starts the host or writes to standard error, and a bad
// option that starts it, exits 0 or is not explained on standard error.
TEST(HostOptions, HelpAndBadOptions) {
  HostProcess help({"--help"});
  EXPECT_EQ(help.wait(), 0);
  const std::string usage = help.rest(false);
  EXPECT_EQ(usage.rfind("usage: korvane", 0), 0u) << usage;
  EXPECT_EQ(help.rest(true), "");

  HostProcess bad({"--interface-socket"});
  EXPECT_EQ(bad.wait(), 2);
  EXPECT_EQ(bad.rest(false), "");
  EXPECT_EQ(bad.rest(true), "korvane: --interface-socket needs a path\n" + usage);
}

// Catches a host that takes over the socket of a live one.
TEST_F(HostProcessTest, RefusesTheSocketOfALiveHost) {
  ASSERT_FALSE(ready_.empty());
  HostProcess second({"--interface-socket", socket_});
  EXPECT_EQ(second.readLine(5s), "");
  EXPECT_EQ(second.wait(), 1);
  EXPECT_NE(second.rest(true).find(socket_), std::string::npos) << "the message names the path";

  testing::InterfaceTestClient client(socket_);
  ASSERT_TRUE(client.connected());
  client.sendMessage(1, "macos_install_location", encodeCall("revealInFinder", {}));
  ASSERT_EQ(client.awaitReplies(1).size(), 1u) << "the first host still answers";
}

// Catches lost, doubled or mismatched replies under a burst of mixed calls.
TEST_F(HostProcessTest, ThousandsOfMixedCallsEachGetExactlyOneReply) {
  ASSERT_FALSE(ready_.empty());
  const std::string marked = dir_.file("marked");
  const std::string plain = dir_.file("plain");
  std::ofstream(marked) << "x";
  std::ofstream(plain) << "x";
  const bool xattrs = setxattr(marked.c_str(), "user.com.apple.quarantine", "", 0, 0) == 0;

  const auto& codec = StandardMethodCodec::instance();
  std::map<uint32_t, std::vector<uint8_t>> expected;
  testing::InterfaceTestClient client(socket_);
  ASSERT_TRUE(client.connected());
  constexpr uint32_t kCalls = 3000;
  for (uint32_t id = 0; id < kCalls; ++id) {
    std::vector<uint8_t> call;
    std::vector<uint8_t> reply;
    std::string channel = "macos_install_location";
    switch (id % 7) {
      case 0:
        call = encodeCall("hasQuarantine", pathArgs(marked));
        reply = codec.encodeSuccessEnvelope(EncodableValue::integer(xattrs ? 1 : 2));
        break;
      case 1:
        call = encodeCall("hasQuarantine", pathArgs(plain));
        reply = codec.encodeSuccessEnvelope(EncodableValue::integer(xattrs ? 0 : 2));
        break;
      case 2:
        call = encodeCall("isDirWritable", pathArgs(dir_.path()));
        reply = codec.encodeSuccessEnvelope(EncodableValue(true));
        break;
      case 3:
        call = encodeCall("revealInFinder", EncodableValue());
        reply = codec.encodeSuccessEnvelope(EncodableValue(true));
        break;
      case 4:
        call = encodeCall("IsDirWritable", pathArgs(dir_.path()));  // wrong case
        break;
      case 5:
        call = {0x07, 0xff};  // not a method call
        break;
      case 6:
        channel = "no_such_channel";
        call = encodeCall("hasQuarantine", pathArgs(marked));
        break;
    }
    expected[id] = reply;
    ASSERT_TRUE(client.sendMessage(id, channel, call));
  }
  const auto& replies = client.awaitReplies(kCalls, 30s);
  ASSERT_EQ(replies.size(), kCalls);
  std::map<uint32_t, int> seen;
  for (const auto& frame : replies) {
    ASSERT_EQ(frame.kind, FrameKind::reply);
    ++seen[frame.id];
    ASSERT_TRUE(expected.count(frame.id)) << frame.id;
    EXPECT_EQ(frame.payload, expected[frame.id]) << "id " << frame.id;
  }
  EXPECT_EQ(seen.size(), kCalls);
  for (const auto& [id, count] : seen) ASSERT_EQ(count, 1) << "id " << id;
}

// The resident memory of process `pid`, in KiB; 0 when it cannot be read.
long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Catches a host that buffers replies without bound for a client that sends
// calls and never reads them, one that keeps its other connections waiting
// meanwhile, and one that loses or repeats those calls' replies once the
// client reads again.
TEST_F(HostProcessTest, ClientThatNeverReadsCannotGrowTheHost) {
  ASSERT_FALSE(ready_.empty());
  const std::string channel = "macos_install_location";
  const std::vector<uint8_t> call = encodeCall("revealInFinder", {});
  testing::InterfaceTestClient other(socket_);
  ASSERT_TRUE(other.sendMessage(1, channel, call));
  ASSERT_TRUE(other.awaitReplyWithoutLoop(1, 10s));
  const long before = residentKiB(host_->pid());
  ASSERT_GT(before, 0);

  // A million calls, far more than the host may hold replies for.
  constexpr uint32_t kBatch = 4096, kCalls = 1'000'000;
  std::vector<uint8_t> batch;
  for (uint32_t id = 0; id < kBatch; ++id) {
    const auto frame = *encodeMessageFrame(id, channel, call);
    batch.insert(batch.end(), frame.begin(), frame.end());
  }
  const size_t frameSize = batch.size() / kBatch;
  testing::InterfaceTestClient flood(socket_);
  ASSERT_TRUE(flood.connected());
  size_t sent = 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (sent < size_t{kCalls} * frameSize && std::chrono::steady_clock::now() < deadline) {
    const auto rest = std::span(batch).subspan(sent % batch.size());
    const size_t n = flood.sendWithin(rest, 2s);
    sent += n;
    if (n < rest.size()) break;  // nothing taken for two seconds: the host stopped reading
  }
  std::vector<std::chrono::microseconds> latencies;
  for (uint32_t id = 2; id < 22; ++id) {
    sent += flood.sendWithin(std::span(batch).subspan(sent % batch.size()), 0ms);  // still at it
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(other.sendMessage(id, channel, call));
    ASSERT_TRUE(other.awaitReplyWithoutLoop(id, 10s));
    latencies.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start));
  }
  const long growth = residentKiB(host_->pid()) - before;
  std::sort(latencies.begin(), latencies.end());
  RecordProperty("calls_taken", std::to_string(sent / frameSize));
  RecordProperty("resident_growth_kib", std::to_string(growth));
  RecordProperty("median_latency_us", std::to_string(latencies[latencies.size() / 2].count()));
  EXPECT_LT(sent, size_t{kCalls} * frameSize) << "the host never stopped reading";
  EXPECT_LT(growth, 32 * 1024) << "KiB, after " << sent / frameSize << " calls";
  EXPECT_LT(latencies[latencies.size() / 2], 50ms);

  // Once it reads, the rest of its last frame goes out and every call is answered once.
  const size_t calls = (sent + frameSize - 1) / frameSize;
  while (sent % frameSize != 0) {
    sent += flood.sendWithin(
        std::span(batch).subspan(sent % batch.size(), frameSize - sent % frameSize), 10ms);
    flood.awaitReplies(0, 10ms);  // takes the replies that have come, so the host reads again
  }
  const auto& replies = flood.awaitReplies(calls, 60s);
  ASSERT_EQ(replies.size(), calls);
  std::vector<int> seen(kBatch);
  const auto yes = StandardMethodCodec::instance().encodeSuccessEnvelope(EncodableValue(true));
  for (const auto& reply : replies) {
    ASSERT_LT(reply.id, kBatch);
    ++seen[reply.id];
    ASSERT_EQ(reply.payload, yes);
  }
  size_t wrong = 0;
  for (uint32_t id = 0; id < kBatch; ++id) {
    wrong += seen[id] != static_cast<int>(calls / kBatch + (id < calls % kBatch ? 1 : 0));
  }
  EXPECT_EQ(wrong, 0u) << "ids answered other than once per call";
}

// Catches the install-location operations not wired into the running host, or
// answers that differ on the wire from what the operations return.
TEST_F(HostProcessTest, AnswersTheQueuedOperations) {
  ASSERT_FALSE(ready_.empty());
  const auto& codec = StandardMethodCodec::instance();
  const std::string temp = dir_.file(".flc-move.x");
  const std::string dest = dir_.file("Korvane.app");
  ASSERT_EQ(mkdir(temp.c_str(), 0755), 0);
  testing::InterfaceTestClient client(socket_);
  ASSERT_TRUE(client.connected());
  client.sendMessage(1, "macos_install_location",
                     encodeCall("atomicReplace", EncodableMap{{"temp", temp}, {"dest", dest}}));
  client.sendMessage(2, "macos_install_location", encodeCall("probe", {}));
  client.sendMessage(3, "macos_install_location",
                     encodeCall("probeCandidate", pathArgs(dir_.file("nothing.app"))));
  const auto& replies = client.awaitReplies(3);
  ASSERT_EQ(replies.size(), 3u);
  std::map<uint32_t, std::vector<uint8_t>> byId;
  for (const auto& frame : replies) byId[frame.id] = frame.payload;
  EXPECT_EQ(byId[1], codec.encodeSuccessEnvelope(
                         EncodableMap{{"status", "committed"}, {"resultingPath", dest}}));
  struct stat st;
  EXPECT_EQ(stat(dest.c_str(), &st), 0);

  auto probe = codec.decodeEnvelope(byId[2]);
  ASSERT_TRUE(std::holds_alternative<MethodEnvelope>(probe));
  const auto* map = std::get<EncodableValue>(std::get<MethodEnvelope>(probe)).asMap();
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->size(), 5u);
  EXPECT_EQ(*map->find("isTranslocated"), EncodableValue(false));
  EXPECT_EQ(byId[3], codec.encodeSuccessEnvelope(EncodableMap{{"identity", "absent"},
                                                              {"build", EncodableValue::integer(0)},
                                                              {"running", false}}));
}

// Catches the launch-at-startup channel not wired into the host, or a setting
// that does not reach the desktop's autostart folder.
TEST_F(HostProcessTest, LaunchAtStartupTurnsTheAutostartEntryOnAndOff) {
  ASSERT_FALSE(ready_.empty());
  const auto& codec = StandardMethodCodec::instance();
  testing::InterfaceTestClient client(socket_);
  ASSERT_TRUE(client.connected());
  auto ask = [&](uint32_t id, const std::string& method, EncodableValue args) {
    client.sendMessage(id, "launch_at_startup", encodeCall(method, std::move(args)));
    const auto& replies = client.awaitReplies(id);
    return replies.size() >= id ? replies[id - 1].payload : std::vector<uint8_t>{};
  };
  EXPECT_EQ(ask(1, "launchAtStartupIsEnabled", {}), codec.encodeSuccessEnvelope(false));
  // The host runs from a build folder: no bundle identifier, so no entry can be named.
  EXPECT_EQ(ask(2, "launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", true}}),
            codec.encodeSuccessEnvelope(EncodableValue()));
  EXPECT_EQ(ask(3, "launchAtStartupIsEnabled", {}), codec.encodeSuccessEnvelope(false));
  EXPECT_EQ(ask(4, "launchAtStartupIsenabled", {}), std::vector<uint8_t>{});
}

// Catches a setting that does not reach the desktop's autostart folder when
// the host runs from a bundle, as an installed copy does.
TEST(HostFromBundle, LaunchAtStartupWritesAndRemovesTheAutostartEntry) {
  testing::TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  const std::string bundle = dir.file("Korvane.app");
  ASSERT_TRUE(testing::makeBundle(bundle, {{"CFBundleIdentifier", "com.example.korvane"},
                                           {"CFBundleName", "Korvane"},
                                           {"CFBundleVersion", "7"}}));
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  std::filesystem::copy_file(KORVANE_HOST_BINARY, bundle + "/Contents/MacOS/korvane");
  const std::string socket = dir.file("s.sock");
  HostProcess host({"--interface-socket", socket}, bundle + "/Contents/MacOS/korvane");
  ASSERT_EQ(host.readLine(), "interface-socket=" + socket + "\n");

  const auto& codec = StandardMethodCodec::instance();
  testing::InterfaceTestClient client(socket);
  ASSERT_TRUE(client.connected());
  uint32_t id = 0;
  auto ask = [&](const std::string& method, EncodableValue args) {
    client.sendMessage(++id, "launch_at_startup", encodeCall(method, std::move(args)));
    const auto& replies = client.awaitReplies(id);
    return replies.size() >= id ? replies[id - 1].payload : std::vector<uint8_t>{};
  };
  const std::string entry = dir.file("config/autostart/com.example.korvane.desktop");
  struct stat st;
  EXPECT_EQ(ask("launchAtStartupIsEnabled", {}), codec.encodeSuccessEnvelope(false));
  EXPECT_EQ(ask("launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", true}}),
            codec.encodeSuccessEnvelope(EncodableValue()));
  EXPECT_EQ(stat(entry.c_str(), &st), 0) << entry;
  EXPECT_EQ(ask("launchAtStartupIsEnabled", {}), codec.encodeSuccessEnvelope(true));
  EXPECT_EQ(ask("launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", false}}),
            codec.encodeSuccessEnvelope(EncodableValue()));
  EXPECT_NE(stat(entry.c_str(), &st), 0);
  EXPECT_EQ(ask("launchAtStartupIsEnabled", {}), codec.encodeSuccessEnvelope(false));
}

// CPU time the process has used (user and system), in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stol(field);
    if (i == 15) system = std::stol(field);
  }
  return user + system;
}

// Catches a host that spins or floods its log when it runs out of
// descriptors (a limit of 64 and 100 idle connections), and one that does not
// serve a new client once the idle ones have gone.
TEST_F(HostProcessTest, OutOfDescriptorsTheHostWaitsQuietly) {
  const std::string socket = dir_.file("low.sock");
  const std::string log = dir_.file("low.log");
  HostProcess host({"--interface-socket", socket},
                   HostProcess::Options{KORVANE_HOST_BINARY, rlim_t{64}, log});
  ASSERT_EQ(host.readLine(), "interface-socket=" + socket + "\n");
  std::vector<int> idle;
  for (int i = 0; i < 100; ++i) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << i;
    idle.push_back(fd);
  }
  std::this_thread::sleep_for(500ms);  // the host takes what it can
  const long before = cpuTicks(host.pid());
  std::this_thread::sleep_for(3s);
  const long used = cpuTicks(host.pid()) - before;
  RecordProperty("cpu_ticks_in_3s", std::to_string(used));
  EXPECT_LE(used, sysconf(_SC_CLK_TCK) / 5) << "ticks of CPU in 3 s";

  // Meanwhile a connection it took is served, with descriptors to read a bundle.
  const std::string bundle = dir_.file("Other.app");
  ASSERT_TRUE(testing::makeBundle(bundle, testing::bundleInfo("com.example.other", "7")));
  const auto frame = *encodeMessageFrame(9, "macos_install_location",
                                         encodeCall("probeCandidate", pathArgs(bundle)));
  ASSERT_EQ(write(idle[0], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  FrameReader reader(kClientReadKinds);
  std::vector<InterfaceFrame> replies;
  uint8_t buffer[4096];
  while (replies.empty()) {
    pollfd ready{idle[0], POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 10000), 1) << "no reply on a connection the host took";
    const ssize_t n = read(idle[0], buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    ASSERT_TRUE(reader.feed(std::span(buffer, static_cast<size_t>(n)), replies));
  }
  EXPECT_EQ(replies[0].payload,
            StandardMethodCodec::instance().encodeSuccessEnvelope(
                EncodableValue(EncodableMap{{"identity", "differentBundle"},
                                            {"build", EncodableValue::integer(7)},
                                            {"running", false}})));

  for (const int fd : idle) close(fd);
  testing::InterfaceTestClient client(socket);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.sendMessage(1, "macos_install_location", encodeCall("revealInFinder", {})));
  EXPECT_TRUE(client.awaitReplyWithoutLoop(1, 1s)) << "no answer within a second";

  kill(host.pid(), SIGTERM);
  EXPECT_EQ(host.wait(), 0);
  std::ifstream written(log);
  const std::string text((std::istreambuf_iterator<char>(written)),
                         std::istreambuf_iterator<char>());
  RecordProperty("log_bytes", std::to_string(text.size()));
  EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 4) << text.substr(0, 2000);
}

}  // namespace
}  // namespace korvane
