#include "platform/linux/engine/interface_address.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>

#include "testing/temp_dir.h"

namespace korvane {
namespace {

using korvane::testing::TempDir;

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

InterfaceAddressInputs inputsIn(const TempDir& dir) {
  InterfaceAddressInputs inputs;
  inputs.runtimeDir = dir.file("run");
  inputs.tmpDir = dir.file("tmp");
  inputs.uid = getuid();
  inputs.pid = 4242;
  mkdir(dir.file("run").c_str(), S_IRWXU);
  mkdir(dir.file("tmp").c_str(), S_IRWXU);
  return inputs;
}

struct Choice {
  const char* name;
  std::function<void(InterfaceAddressInputs&, const TempDir&)> adjust;
  std::function<std::string(const TempDir&)> expected;
};

// Catches a wrong order of precedence, a wrong file name, and a fallback that
// is missed (or taken) for each state of XDG_RUNTIME_DIR.
TEST(InterfaceAddressTest, ChoosesThePathInOrderOfPrecedence) {
  const std::string uid = std::to_string(getuid());
  const Choice choices[] = {
      {"option wins over everything",
       [](auto& in, auto&) {
         in.option = "/somewhere/given.sock";
         in.environment = "/elsewhere/env.sock";
       },
       [](auto&) { return std::string("/somewhere/given.sock"); }},
      {"environment wins over the default",
       [](auto& in, auto&) { in.environment = "relative/env.sock"; },
       [](auto&) { return std::string("relative/env.sock"); }},
      {"empty environment is ignored", [](auto& in, auto&) { in.environment = ""; },
       [](auto& d) { return d.file("run/korvane/interface-4242.sock"); }},
      {"runtime folder", [](auto&, auto&) {},
       [](auto& d) { return d.file("run/korvane/interface-4242.sock"); }},
      {"no runtime folder: TMPDIR", [](auto& in, auto&) { in.runtimeDir.reset(); },
       [uid](auto& d) { return d.file("tmp/korvane-" + uid + "/interface-4242.sock"); }},
      {"empty runtime folder: TMPDIR", [](auto& in, auto&) { in.runtimeDir = ""; },
       [uid](auto& d) { return d.file("tmp/korvane-" + uid + "/interface-4242.sock"); }},
      {"relative runtime folder: TMPDIR", [](auto& in, auto&) { in.runtimeDir = "run"; },
       [uid](auto& d) { return d.file("tmp/korvane-" + uid + "/interface-4242.sock"); }},
      {"missing runtime folder: TMPDIR",
       [](auto& in, auto& d) { in.runtimeDir = d.file("absent"); },
       [uid](auto& d) { return d.file("tmp/korvane-" + uid + "/interface-4242.sock"); }},
      {"runtime folder is a file: TMPDIR",
       [](auto& in, auto& d) {
         std::ofstream(d.file("plain"));
         in.runtimeDir = d.file("plain");
       },
       [uid](auto& d) { return d.file("tmp/korvane-" + uid + "/interface-4242.sock"); }},
  };
  for (const Choice& choice : choices) {
    TempDir dir;
    InterfaceAddressInputs inputs = inputsIn(dir);
    choice.adjust(inputs, dir);
    const InterfaceSocketPath result = prepareInterfaceSocketPath(inputs);
    EXPECT_EQ(result.path, choice.expected(dir)) << choice.name << ": " << result.message;
    EXPECT_FALSE(result.error) << choice.name;
  }
}

// Catches a default folder made with the umask's mode instead of 0700.
TEST(InterfaceAddressTest, MakesTheDefaultFolderPrivate) {
  TempDir dir;
  InterfaceAddressInputs inputs = inputsIn(dir);
  const mode_t old = umask(0);
  const InterfaceSocketPath result = prepareInterfaceSocketPath(inputs);
  umask(old);
  ASSERT_FALSE(result.error) << result.message;
  EXPECT_EQ(modeOf(dir.file("run/korvane")), 0700u);
  // A second start finds the folder it made and accepts it.
  EXPECT_FALSE(prepareInterfaceSocketPath(inputs).error);
}

// Catches an explicit path whose folder is created or checked when it must be used as given.
TEST(InterfaceAddressTest, ExplicitPathsAreUsedAsGiven) {
  TempDir dir;
  InterfaceAddressInputs inputs = inputsIn(dir);
  inputs.option = dir.file("open/x.sock");
  EXPECT_EQ(prepareInterfaceSocketPath(inputs).path, dir.file("open/x.sock"));
  EXPECT_NE(access(dir.file("open").c_str(), F_OK), 0);
  EXPECT_NE(access(dir.file("run/korvane").c_str(), F_OK), 0);
  inputs.option = "";
  EXPECT_EQ(prepareInterfaceSocketPath(inputs).error, std::errc::invalid_argument);
}

struct Refusal {
  const char* name;
  std::function<void(const TempDir&)> setup;  // prepares run/korvane
  std::errc error;
  const char* messagePart;
};

// Catches a default folder accepted although another user could reach or
// redirect the socket through it.
TEST(InterfaceAddressTest, RefusesUnsafeDefaultFolders) {
  const Refusal refusals[] = {
      {"symbolic link to a private folder",
       [](auto& d) {
         mkdir(d.file("real").c_str(), S_IRWXU);
         symlink(d.file("real").c_str(), d.file("run/korvane").c_str());
       },
       std::errc::too_many_symbolic_link_levels, "is a symbolic link"},
      {"group-writable",
       [](auto& d) {
         mkdir(d.file("run/korvane").c_str(), S_IRWXU);
         chmod(d.file("run/korvane").c_str(), S_IRWXU | S_IWGRP);
       },
       std::errc::operation_not_permitted, "has mode 0720"},
      {"readable by others",
       [](auto& d) {
         mkdir(d.file("run/korvane").c_str(), S_IRWXU);
         chmod(d.file("run/korvane").c_str(), S_IRWXU | S_IROTH);
       },
       std::errc::operation_not_permitted, "has mode 0704"},
      {"a file", [](auto& d) { std::ofstream(d.file("run/korvane")); }, std::errc::not_a_directory,
       "is not a folder"},
  };
  for (const Refusal& refusal : refusals) {
    TempDir dir;
    InterfaceAddressInputs inputs = inputsIn(dir);
    refusal.setup(dir);
    const InterfaceSocketPath result = prepareInterfaceSocketPath(inputs);
    EXPECT_TRUE(result.path.empty()) << refusal.name;
    EXPECT_EQ(result.error, refusal.error) << refusal.name;
    EXPECT_NE(result.message.find(dir.file("run/korvane")), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(refusal.messagePart), std::string::npos) << result.message;
  }
}

// Catches a folder owned by another user being accepted (the owner could swap the socket).
TEST(InterfaceAddressTest, RefusesAFolderOfAnotherUser) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  TempDir dir;
  InterfaceAddressInputs inputs = inputsIn(dir);
  mkdir(dir.file("run/korvane").c_str(), S_IRWXU);
  ASSERT_EQ(chown(dir.file("run/korvane").c_str(), 65534, 65534), 0);
  const InterfaceSocketPath result = prepareInterfaceSocketPath(inputs);
  EXPECT_EQ(result.error, std::errc::operation_not_permitted);
  EXPECT_NE(result.message.find("belongs to uid 65534"), std::string::npos) << result.message;
}

// Catches discovery looking in folders the host never uses, or in the wrong order.
TEST(InterfaceAddressTest, DefaultFoldersForDiscovery) {
  InterfaceAddressInputs inputs;
  inputs.uid = 1000;
  inputs.runtimeDir = "/run/user/1000";
  EXPECT_EQ(defaultInterfaceSocketFolders(inputs),
            (std::vector<std::string>{"/run/user/1000/korvane", "/tmp/korvane-1000"}));
  inputs.runtimeDir = "relative";
  inputs.tmpDir = "/var/tmp";
  EXPECT_EQ(defaultInterfaceSocketFolders(inputs),
            (std::vector<std::string>{"/var/tmp/korvane-1000"}));
}

}  // namespace
}  // namespace korvane
