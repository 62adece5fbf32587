// Fuzzes the interface connection's frame reader with the bytes a peer could
// send, read as the host reads them (kinds 1 and 4) and as a client does
// (kinds 2 and 3). Besides not crashing or allocating beyond what arrived, it
// checks that the reader's answer does not depend on how the bytes are split
// into reads, that it yields only kinds its end reads, and that the frames it
// yields encode back to exactly the bytes they came from.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "platform/linux/engine/interface_frame.h"

using korvane::FrameKind;
using korvane::FrameKinds;
using korvane::FrameReader;
using korvane::InterfaceFrame;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void fuzzAs(FrameKinds kinds, std::span<const uint8_t> input) {
  FrameReader whole(kinds);
  std::vector<InterfaceFrame> wholeFrames;
  const bool wholeOk = whole.feed(input, wholeFrames);

  // The same bytes in reads of varying sizes, including single bytes.
  FrameReader pieces(kinds);
  std::vector<InterfaceFrame> pieceFrames;
  bool piecesOk = true;
  size_t step = input.empty() ? 1 : input[0] % 7 + 1;
  for (size_t offset = 0; offset < input.size();) {
    const size_t n = std::min(step, input.size() - offset);
    piecesOk = pieces.feed(input.subspan(offset, n), pieceFrames) && piecesOk;
    offset += n;
    step = step * 5 % 23 + 1;
  }
  check(wholeOk == piecesOk);
  check(whole.error() == pieces.error());
  check(wholeFrames == pieceFrames);

  std::vector<uint8_t> again;
  for (const InterfaceFrame& frame : wholeFrames) {
    check(kinds.contains(frame.kind));
    check(korvane::hasChannel(frame.kind) || frame.channel.empty());
    const auto bytes = korvane::encodeFrame(frame);
    check(bytes.has_value());
    again.insert(again.end(), bytes->begin(), bytes->end());
  }
  check(again.size() <= input.size());
  check(again.empty() || std::memcmp(again.data(), input.data(), again.size()) == 0);
  if (wholeOk) check(again.size() + whole.bufferedBytes() == input.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  fuzzAs(korvane::kHostReadKinds, input);
  fuzzAs(korvane::kClientReadKinds, input);
  return 0;
}
