// The delegate's answer to a quit request. Thread: any (a plain value).
#pragma once

namespace korvane {

enum NSApplicationTerminateReply : int {
  NSTerminateCancel = 0,  // the application goes on
  NSTerminateNow = 1,     // the application ends
  NSTerminateLater = 2,   // the delegate answers later; the application goes on meanwhile
};

}  // namespace korvane
