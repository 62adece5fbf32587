// Dispatch queues: the main queue and private serial queues.
//
// Ordering guarantees, for every queue made here:
//  - Blocks run one at a time, in the order in which they were submitted
//    (first in, first out). A block never starts before the one submitted
//    before it has returned.
//  - Everything a block wrote to memory before returning is visible to the
//    block that runs after it on the same queue, and everything the submitter
//    wrote before async() is visible to the block it submitted.
//  - No block is dropped and none runs twice; there is no cancellation and no
//    time limit.
//  - Blocks of a serial queue run on one dedicated thread that is never the
//    main thread. Blocks of the main queue run on the main thread, from its
//    main loop, only while that loop runs, and never inside async().
//
// Quality of service: the reference platform runs the worker queue at the
// "user-initiated" class, a scheduler hint only; it is not represented here.
//
// Thread: async() may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace korvane {

class DispatchQueue {
 public:
  using Block = std::function<void()>;

  virtual ~DispatchQueue() = default;
  // Submits `block` and returns at once, before it has run.
  virtual void async(Block block) = 0;
  virtual const std::string& label() const = 0;
};

// The main queue: runs on the main thread's main loop. Made on first use, kept
// for the life of the process.
DispatchQueue& mainQueue();

// A new serial queue with its own thread, named after `label`. Destroying it
// runs what is queued, then joins the thread.
std::unique_ptr<DispatchQueue> makeSerialQueue(std::string label);

}  // namespace korvane
