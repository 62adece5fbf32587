#include "tools/korvane_call/korvane_call.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>

#include "platform/embedding/standard_method_codec.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "tools/korvane_call/call_client.h"
#include "tools/korvane_call/host_discovery.h"
#include "tools/korvane_call/json_value.h"

namespace korvane::tools {
namespace {

constexpr const char* kHelp =
    R"(Usage: korvane-call [--socket PATH] [--timeout SECONDS] CHANNEL METHOD [JSON-ARGUMENTS]
       korvane-call [--timeout SECONDS] --instance PID REQUEST

Sends one method call to a running Korvane host over its interface socket and
prints the value of the reply as one line of JSON on standard output.

With --instance, sends REQUEST as one line to the instance endpoint of
process PID (app-PID.sock in $XDG_RUNTIME_DIR/korvane/ or
${TMPDIR:-/tmp}/korvane-<uid>/, served by that process of this user) and
prints the reply line as it came, "ok pid=<pid> ..." or "error <text>".
REQUEST is one of ping, unhide, activate, reopen, quit, hide, close, state;
the instance answers anything else with an error.

Options:
  --socket PATH      the host's interface socket. Without it: the path in
                     KORVANE_INTERFACE_SOCKET, else the one host of this user
                     running with a socket in $XDG_RUNTIME_DIR/korvane/ or
                     ${TMPDIR:-/tmp}/korvane-<uid>/
  --timeout SECONDS  give up after this long (default 10; fractions allowed)
  --instance PID     send REQUEST to the instance endpoint of process PID
                     instead of calling a channel
  -h, --help         show this help

JSON-ARGUMENTS, when given, become the arguments of the call: integers are sent
as integers, other numbers as doubles, arrays as lists and objects as maps with
string keys. In the reply, map keys that are not strings are shown as their
JSON text. Messages the host sends to the interface while the call waits are
answered with no data.

Examples:
  korvane-call macos_install_location hasQuarantine '{"path": "/opt/Korvane.app"}'
prints
  0
and
  korvane-call --instance 4242 ping
prints
  ok pid=4242

Exit status:
  0  the host replied; the value is on standard output (--instance: the reply
     line is an "ok" line)
  1  --instance: the reply line is an "error" line; it is on standard output
  2  usage error: an unknown option, CHANNEL or METHOD missing, invalid JSON,
     a PID that is not a process identifier, REQUEST missing or not one line
  3  the host replied with an error; its code, message and details are on
     standard error
  4  not implemented: no handler for the channel, an unknown method, or a
     call the host could not decode
  5  no host to call: none running, several running, or the socket cannot be
     reached (--instance: no endpoint of PID, or one served by another
     process or user)
  6  no reply within the time limit
  7  the connection broke, or the reply could not be read
)";

struct Options {
  std::optional<std::string> socket;
  std::chrono::milliseconds timeout{10000};
  std::string channel;
  std::string method;
  std::optional<std::string> arguments;
  std::optional<int32_t> instance;  // --instance PID
  std::string request;              // with --instance
  bool help = false;
};

// A process identifier: a positive decimal 32-bit number, digits only.
std::optional<int32_t> parsePid(const std::string& text) {
  int32_t pid = 0;
  const char* end = text.data() + text.size();
  if (text.empty() || text[0] < '1' || text[0] > '9') return std::nullopt;
  const auto [last, error] = std::from_chars(text.data(), end, pid);
  if (error != std::errc() || last != end) return std::nullopt;
  return pid;
}

// Parses `args`; on a usage error returns nullopt with `error` set.
std::optional<Options> parse(const std::vector<std::string>& args, std::string& error) {
  Options options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || (arg[1] != '-' && arg != "-h")) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return options;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const size_t equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    if (name != "--socket" && name != "--timeout" && name != "--instance") {
      error = "unknown option " + name;
      return std::nullopt;
    }
    if (!value) {
      if (i + 1 == args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (name == "--socket") {
      options.socket = *value;
      continue;
    }
    if (name == "--instance") {
      options.instance = parsePid(*value);
      if (!options.instance) {
        error = "--instance needs a process identifier, not " + *value;
        return std::nullopt;
      }
      continue;
    }
    double seconds = 0;
    size_t used = 0;
    try {
      seconds = std::stod(*value, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != value->size() || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
      error = "--timeout needs a number of seconds above 0 and at most 86400, not " + *value;
      return std::nullopt;
    }
    options.timeout = std::chrono::milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000)));
  }
  if (options.instance) {
    if (options.socket) {
      error = "--socket and --instance cannot be used together";
      return std::nullopt;
    }
    if (positional.size() != 1) {
      error = positional.empty() ? "REQUEST is required with --instance"
                                 : "only one REQUEST is sent with --instance";
      return std::nullopt;
    }
    options.request = positional[0];
    if (options.request.find('\n') != std::string::npos ||
        options.request.size() > kMaxInstanceLine) {
      error = "REQUEST must be one line of at most " + std::to_string(kMaxInstanceLine) + " bytes";
      return std::nullopt;
    }
    return options;
  }
  if (positional.size() < 2 || positional.size() > 3) {
    error = positional.size() < 2 ? "CHANNEL and METHOD are required"
                                  : "too many arguments after JSON-ARGUMENTS";
    return std::nullopt;
  }
  options.channel = positional[0];
  options.method = positional[1];
  if (positional.size() == 3) options.arguments = positional[2];
  return options;
}

std::string dumpLine(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

int usage(std::ostream& err, const std::string& error) {
  err << "korvane-call: " << error << "\nTry 'korvane-call --help'.\n";
  return kExitUsage;
}

// Sends the one request line of --instance and prints the reply line.
int callInstance(const Options& options, const InterfaceAddressInputs& environment,
                 std::ostream& out, std::ostream& err) {
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  const std::string what = "instance " + std::to_string(*options.instance);
  std::string error;
  std::error_code code;
  auto client = InstanceEndpointClient::connect(environment, *options.instance, options.timeout,
                                                &error, &code);
  if (!client) {
    err << "korvane-call: " << what << ": " << error << "\n";
    return code == std::errc::timed_out ? kExitTimedOut : kExitNoHost;
  }
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  const auto reply =
      client->send(options.request, std::max(left, std::chrono::milliseconds(0)), &error, &code);
  if (!reply) {
    err << "korvane-call: " << what << " " << options.request << ": " << error << "\n";
    return code == std::errc::timed_out ? kExitTimedOut : kExitBroken;
  }
  if (reply->ok) {
    out << okInstanceReply(reply->pid, reply->fields) << "\n";
    return kExitReplied;
  }
  out << (reply->fields.empty() ? std::string("error") : errorInstanceReply(reply->fields)) << "\n";
  return kExitInstanceError;
}

}  // namespace

int runKorvaneCall(const std::vector<std::string>& args, const InterfaceAddressInputs& environment,
                   std::ostream& out, std::ostream& err) {
  std::string error;
  const std::optional<Options> options = parse(args, error);
  if (!options) return usage(err, error);
  if (options->help) {
    out << kHelp;
    return kExitReplied;
  }
  if (options->instance) return callInstance(*options, environment, out, err);

  EncodableValue arguments;
  if (options->arguments) {
    const Json json = Json::parse(*options->arguments, nullptr, false);
    if (json.is_discarded()) return usage(err, "JSON-ARGUMENTS is not valid JSON");
    auto value = valueFromJson(json, error);
    if (!value) return usage(err, "JSON-ARGUMENTS: " + error);
    arguments = std::move(*value);
  }

  std::string socket;
  if (options->socket) {
    socket = *options->socket;
  } else {
    const HostDiscovery found = findInterfaceSocket(environment);
    if (found.path.empty()) {
      err << "korvane-call: " << found.error << "\n";
      return kExitNoHost;
    }
    socket = found.path;
  }

  const StandardMethodCodec& codec = StandardMethodCodec::instance();
  const auto call = codec.encodeMethodCall(FlutterMethodCall{options->method, arguments});
  const CallOutcome outcome = sendAndAwaitReply(socket, options->channel, call, options->timeout);
  const std::string what = options->channel + " " + options->method;
  switch (outcome.status) {
    case CallOutcome::Status::replied:
      break;
    case CallOutcome::Status::unreachable:
      err << "korvane-call: " << outcome.error << "\n";
      return kExitNoHost;
    case CallOutcome::Status::timedOut:
      err << "korvane-call: " << what << ": " << outcome.error << "\n";
      return kExitTimedOut;
    case CallOutcome::Status::broken:
      err << "korvane-call: " << what << ": " << outcome.error << "\n";
      return kExitBroken;
  }

  const auto envelope = codec.decodeEnvelope(outcome.payload);
  if (const auto* bad = std::get_if<CodecError>(&envelope)) {
    err << "korvane-call: " << what << ": the reply could not be decoded: " << bad->what << "\n";
    return kExitBroken;
  }
  const auto& reply = std::get<MethodEnvelope>(envelope);
  if (const auto* value = std::get_if<EncodableValue>(&reply)) {
    out << dumpLine(jsonFromValue(*value)) << "\n";
    return kExitReplied;
  }
  if (const auto* failure = std::get_if<FlutterError>(&reply)) {
    err << "korvane-call: " << what << " failed: " << failure->code;
    if (failure->message) err << ": " << *failure->message;
    if (!failure->details.isNull())
      err << " (details: " << dumpLine(jsonFromValue(failure->details)) << ")";
    err << "\n";
    return kExitErrorReply;
  }
  err << "korvane-call: " << what
      << " is not implemented (no handler for the channel, an unknown method, or a call the "
         "host could not decode)\n";
  return kExitNotImplemented;
}

}  // namespace korvane::tools
