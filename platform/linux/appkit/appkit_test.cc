#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/appkit/application_main.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/dispatch_queue.h"
#include "platform/linux/appkit/instance_requests.h"
#include "testing/loop_watchdog.h"
#include "testing/stand_in_app.h"
#include "testing/stderr_capture.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using Windows = std::vector<NSWindow*>;

std::unique_ptr<NSWindow> window(NSRect frame = {10, 20, 300, 200}) {
  return std::make_unique<NSWindow>(frame, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
}

// The change log, events joined by "; ", with windows named by letters: a for
// the first window it mentions, b for the number after that one's, and so on
// ("window 7 order above 8" reads "a order above b"). Tests make their
// windows one after another and mention the first one first.
std::string changes(const NSApplication& app) {
  std::string out;
  for (const auto& event : app.changeLog()) out.append(out.empty() ? "" : "; ").append(event);
  const size_t at = out.find("window ");
  const int first = at == std::string::npos ? 0 : std::stoi(out.substr(at + 7));
  for (int i = 25; i >= 0; --i) {  // "window 12" before "window 1"
    for (std::string from : {"window ", "above ", "below "}) {
      const std::string to = (from == "window " ? "" : from) + static_cast<char>('a' + i);
      from += std::to_string(first + i);
      for (size_t p; (p = out.find(from)) != std::string::npos;) out.replace(p, from.size(), to);
    }
  }
  return out;
}

// Answers as told and notes each question in the change log. Once launched,
// it queues work that queues more ("queued ran"), then quits: the stop comes
// after the work queued before it.
struct Delegate : NSApplicationDelegate {
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication& app) override {
    app.noteChange("asked last window");
    return quitAfterLastWindow;
  }
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication& app) override {
    app.noteChange("asked terminate");
    return reply;
  }
  void applicationDidFinishLaunching(NSApplication& app) override {
    mainQueue().async([&app] { mainQueue().async([&app] { app.noteChange("queued ran"); }); });
    mainQueue().async([&app] { app.terminate(nullptr); });
  }
  bool quitAfterLastWindow = true;
  NSApplicationTerminateReply reply = NSTerminateNow;
};

// Runs the application main routine with `options` on a main interface that
// notes its interface socket, adopts a delegate and two windows, and adds
// three launch tasks, the second failing when `taskFails`. Expects the
// status, the output, the errors and the steps in the change log.
void expectMain(std::vector<const char*> options, bool taskFails, int status,
                const std::string& out, const std::string& err, const std::string& steps) {
  testing::TempDir dir;
  testing::ScopedSocketFolders folders(dir.path());
  const MainInterfaceLoader load = [taskFails](NSApplication& app) {
    app.noteChange("load " + app.launchArguments().interfaceSocket.value_or("-"));
    app.adoptDelegate(std::make_unique<Delegate>());
    for (int i = 1; i <= 3; ++i) {
      if (i < 3) app.adoptWindow(window());
      app.addLaunchTask([&app, i, taskFails]() -> std::optional<std::string> {
        app.noteChange("task " + std::to_string(i));
        if (i == 2 && taskFails) return "cannot listen at /x: refused";
        return std::nullopt;
      });
    }
  };
  NSApplication app;
  testing::LoopWatchdog watchdog;
  options.insert(options.begin(), "korvane");
  int result = -1;
  std::string output;
  const std::string errors = testing::captureStderr([&] {
    output = testing::captureStdout([&] {
      result = NSApplicationMain(static_cast<int>(options.size()), options.data(), load);
    });
  });
  EXPECT_EQ(std::tuple(result, output, errors, changes(app), watchdog.fired(), app.delegate()),
            std::tuple(status, out, err, steps, false, nullptr));
}

// A host that launches out of order or ends with a wrong status misleads its caller.
// Catches launching steps or tasks run out of order, skipped or on past a
// failure, an option read wrongly, a failure (a launch task, a bad option)
// that does not end the process with its status and message, --help that
// launches or writes elsewhere, a quit that does not end the loop or ends it
// before work already queued, and adopted windows not torn down newest first
// (a Flutter engine that would never stop) or a delegate left dangling.
TEST(ApplicationMain, LaunchesRunsAndEnds) {
  const std::string usage = launchUsage(), noPath = "korvane: --interface-socket needs a path\n";
  const std::string ran =
      "; a new; b new; task 1; task 2; task 3; launched; asked terminate; terminate now; stop; "
      "queued ran; b gone; a gone";
  expectMain({"--interface-socket", "/x/y.sock"}, false, 0, "", "", "load /x/y.sock" + ran);
  expectMain({"-NSQuitAlwaysKeepsWindows", "NO", "--interface-socket=/a b"}, false, 0, "", "",
             "load /a b" + ran);
  expectMain({}, true, 1, "", "korvane: cannot listen at /x: refused\n",
             "load -; a new; b new; task 1; task 2; b gone; a gone");
  for (const char* help : {"--help", "-h"}) expectMain({help}, false, 0, usage, "", "");
  for (auto options : {std::vector{"--interface-socket", ""}, {"--interface-socket="}})
    expectMain(options, false, 2, "", noPath + usage, "");
}

// Another copy of the application would get a wrong reply or change nothing.
// Catches a request that does not reach the application or reaches the wrong
// operation, a reply other than "ok pid=<pid>" or without the delegate's quit
// answer, a state line with a field missing, misnamed, out of order or with
// fractions, or its windows in another order than the application's, and an
// unknown or differently spelt request that changes something or is answered
// ok. Through the requests: hiding that leaves windows up or the application
// active, unhiding that shows windows hidden before or loses their order or
// the key window, a second hide that forgets what the first remembered,
// activation not recorded each time or leaving the application hidden, a
// reopen told the wrong visibility, closing that asks the delegate while a
// window is still visible or skips its last-window question, and a destroyed
// window still listed.
TEST(InstanceRequests, AnswerAndChangeTheApplication) {
  NSApplication app;
  Delegate delegate;
  app.setDelegate(&delegate);
  auto a = window({0, 0, 1280, 720}), b = window(), c = window({10.4, 20.6, 300, 200});
  b->orderFront(nullptr);
  a->makeKeyAndOrderFront(nullptr);
  app.clearChangeLog();
  const auto ask = [&](std::string_view r) { return answerInstanceRequest(app, r, 4242); };
  const auto n = [](const auto& w) { return std::to_string(w->windowNumber()); };
  const std::string windows =
      " windows=3 window=" + n(a) + ",visible,key,0,0,1280,720 window=" + n(b) +
      ",visible,notkey,10,20,300,200 window=" + n(c) + ",hidden,notkey,10,21,300,200";
  EXPECT_EQ(ask("state"), "ok pid=4242 active=0 hidden=0 reopens=0" + windows);
  for (const char* request : {"", "Hide", "quit ", "state\r", "terminate"})
    EXPECT_EQ(ask(request).rfind("error ", 0), 0u) << request;
  for (const char* request : {"ping", "activate", "hide", "hide", "reopen", "unhide", "reopen",
                              "hide", "activate", "activate"})
    EXPECT_EQ(ask(request), "ok pid=4242") << request;
  EXPECT_EQ(ask("state"), "ok pid=4242 active=1 hidden=0 reopens=2" + windows);
  for (auto [reply, word] : {std::pair{NSTerminateCancel, "cancel"},
                             {NSTerminateLater, "later"},
                             {NSTerminateNow, "now"}}) {
    delegate.reply = reply;
    EXPECT_EQ(ask("quit"), std::string("ok pid=4242 terminate=") + word);
  }
  c.reset();
  EXPECT_EQ(ask("close"), "ok pid=4242");
  EXPECT_EQ(changes(app),
            "activate; hide; a order out; a hidden; a notkey; b order out; b hidden; deactivate; "
            "reopen visible=0; unhide; b order above 0; b visible; a order above 0; a visible; "
            "a key; reopen visible=1; hide; a order out; a hidden; a notkey; b order out; "
            "b hidden; unhide; b order above 0; b visible; a order above 0; a visible; a key; "
            "activate; activate; asked terminate; terminate cancel; asked terminate; "
            "terminate later; asked terminate; terminate now; stop; c gone; a close; "
            "a order out; a hidden; a notkey; b close; b order out; b hidden; asked last window; "
            "asked terminate; terminate now");
}

// Windows would be shown, ordered or made key wrongly, or used once freed.
// Catches windows placed at the wrong spot of the window order or relative to
// the wrong window, visibility that does not follow, a hidden window that
// becomes key, two key windows, a key window kept once ordered out or gone, a
// frame change recorded unrounded or when nothing changed, a destroyed window
// left in the application's lists, closing the last window that quits against
// the delegate's answer, and answers other than AppKit's without a delegate
// (last window closed: stay; reopen: yes; quit: now).
TEST(NSWindow, OrderKeyAndLifetime) {
  NSApplication app;
  auto a = window(), b = window(), c = window();
  a->makeKeyWindow();
  a->makeKeyAndOrderFront(nullptr);
  b->makeKeyAndOrderFront(nullptr);
  c->orderBack(nullptr);
  c->order(NSWindowAbove, a->windowNumber());
  EXPECT_EQ(app.orderedWindows(), (Windows{b.get(), c.get(), a.get()}));
  a->order(NSWindowBelow, b->windowNumber());
  EXPECT_EQ(app.orderedWindows(), (Windows{b.get(), a.get(), c.get()}));
  b->orderOut(nullptr);
  a->makeKeyWindow();
  for (int i = 0; i < 2; ++i) c->setFrame({1.4, -2, 1280.6, 720}, true);
  a.reset();
  EXPECT_EQ(app.windows(), (Windows{b.get(), c.get()}));
  EXPECT_TRUE(app.orderedWindows() == Windows{c.get()} && app.keyWindow() == nullptr);
  c->close();
  c->orderFront(nullptr);
  Delegate stays;
  stays.quitAfterLastWindow = false;
  app.setDelegate(&stays);
  c->close();
  app.setDelegate(nullptr);
  EXPECT_TRUE(app.handleReopen() && app.terminate(nullptr) == NSTerminateNow);
  EXPECT_EQ(changes(app),
            "a new; b new; c new; a order above 0; a visible; a key; b order above 0; b visible; "
            "a notkey; b key; c order below 0; c visible; c order above a; a order below b; "
            "b order out; b hidden; b notkey; a key; c frame 1,-2,1281,720; a gone; c close; "
            "c order out; c hidden; c order above 0; c visible; c close; c order out; c hidden; "
            "asked last window; reopen visible=0; terminate now; stop");
}

// Catches a launch task that starts the engine of a controller already gone.
// (The engine's start, its ready line and its failures are checked with the
// main interface and end to end.)
TEST(FlutterViewController, LaunchTaskOfAGoneControllerDoesNothing) {
  testing::TempDir dir;
  NSApplication app;
  app.setLaunchArguments({.interfaceSocket = dir.file("interface.sock")});
  std::make_unique<FlutterViewController>().reset();
  EXPECT_EQ(testing::captureStdout([&] { EXPECT_EQ(app.runLaunchTasks(), std::nullopt); }), "");
  EXPECT_NE(access(dir.file("interface.sock").c_str(), F_OK), 0);
}

// Catches a change log that grows without bound or drops the newest events.
TEST(NSApplication, ChangeLogKeepsTheNewestEvents) {
  NSApplication app;
  const size_t limit = NSApplication::kChangeLogLimit;
  for (size_t i = 0; i <= limit; ++i) app.noteChange(std::to_string(i));
  EXPECT_EQ(app.changeLog().size(), limit);
  EXPECT_EQ(app.changeLog().front() + " " + app.changeLog().back(), "1 " + std::to_string(limit));
}

}  // namespace
}  // namespace korvane
