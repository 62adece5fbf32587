// The instance endpoint's lines: file name, requests and replies.
#include "platform/linux/ipc/instance_endpoint.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace korvane {
namespace {

constexpr std::string_view kOkPrefix = "ok pid=";
constexpr std::string_view kError = "error";

constexpr std::array<std::string_view, 8> kRequests = {
    InstanceRequest::ping,   InstanceRequest::unhide, InstanceRequest::activate,
    InstanceRequest::reopen, InstanceRequest::quit,   InstanceRequest::hide,
    InstanceRequest::close,  InstanceRequest::state,
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string instanceEndpointFileName(int64_t pid) { return "app-" + std::to_string(pid) + ".sock"; }

bool isInstanceRequest(std::string_view line) {
  return std::find(kRequests.begin(), kRequests.end(), line) != kRequests.end();
}

std::optional<InstanceReply> parseInstanceReply(std::string_view line) {
  if (line.size() > kMaxInstanceLine || line.find('\n') != std::string_view::npos) {
    return std::nullopt;
  }
  if (line.starts_with(kOkPrefix)) {
    const std::string_view rest = line.substr(kOkPrefix.size());
    const size_t digits =
        static_cast<size_t>(std::find_if_not(rest.begin(), rest.end(), isDigit) - rest.begin());
    // from_chars would also take a sign or leading blanks; only digits count.
    if (digits == 0 || rest.front() == '0') return std::nullopt;
    int32_t pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + digits, pid);
    if (error != std::errc() || end != rest.data() + digits) return std::nullopt;
    if (digits < rest.size() && rest[digits] != ' ') return std::nullopt;
    InstanceReply reply;
    reply.ok = true;
    reply.pid = pid;
    if (digits < rest.size()) reply.fields = std::string(rest.substr(digits + 1));
    return reply;
  }
  if (line == kError) return InstanceReply{};
  if (line.starts_with(kError) && line[kError.size()] == ' ') {
    InstanceReply reply;
    reply.fields = std::string(line.substr(kError.size() + 1));
    return reply;
  }
  return std::nullopt;
}

std::string okInstanceReply(int32_t pid, std::string_view fields) {
  std::string line = std::string(kOkPrefix) + std::to_string(pid);
  if (!fields.empty()) {
    line += ' ';
    line += fields;
  }
  return line;
}

std::string errorInstanceReply(std::string_view text) {
  std::string line = std::string(kError) + " ";
  line += text.substr(0, kMaxInstanceLine - line.size());
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return line;
}

}  // namespace korvane
