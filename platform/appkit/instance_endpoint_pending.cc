// Stands in for the instance endpoint's Linux backend until that backend is
// in the tree (CMakeLists.txt here leaves this file out as soon as a
// platform/instance_endpoint*.cc exists). Meanwhile the application starts
// without an endpoint: start() succeeds without listening, so other copies
// cannot reach this one. The reply lines are the real ones.
#include "platform/instance_endpoint.h"

namespace korvane {

class InstanceEndpointServer::Impl {
 public:
  std::string path;  // never listening: always empty
};

InstanceEndpointServer::InstanceEndpointServer(Logger&) : impl_(std::make_unique<Impl>()) {}

InstanceEndpointServer::~InstanceEndpointServer() { stop(); }

std::optional<InstanceEndpointServer::StartError> InstanceEndpointServer::start(
    const InterfaceAddressInputs&, Handler) {
  return std::nullopt;
}

const std::string& InstanceEndpointServer::path() const { return impl_->path; }

void InstanceEndpointServer::stop() {}

std::string okInstanceReply(int32_t pid, std::string_view fields) {
  std::string line = "ok pid=" + std::to_string(pid);
  if (!fields.empty()) {
    line += ' ';
    line += fields;
  }
  return line;
}

std::string errorInstanceReply(std::string_view text) { return "error " + std::string(text); }

}  // namespace korvane
