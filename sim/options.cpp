#include "options.h"

#include <map>
#include <optional>
#include <stdexcept>

namespace sim {

const char* const kUsage =
    "usage: tl8sim [--link PATH] [--state FILE] [--address N] [--journal FILE]\n"
    "              [--adapter ADDR[:FILE]]... [--turnaround MS] [--fault RULE]...\n"
    "              [--echo] [--unplug N[:MS]] [--tcp [HOST:]PORT]\n"
    "              [--modbus-tcp [HOST:]PORT]\n"
    "Simulates TL-8K adapters, Modbus RTU slaves, on a new pseudo-terminal and\n"
    "prints the path of its end of the line as the first line on stdout.\n"
    "  --link PATH       also make PATH a symbolic link to that terminal\n"
    "  --tcp [HOST:]PORT serve the line over TCP instead, as a serial device\n"
    "                    server in raw mode, to one client at a time; HOST\n"
    "                    127.0.0.1 unless given, PORT 0 for any free one; the\n"
    "                    first line on stdout is then the tool's port name,\n"
    "                    tcp://HOST:PORT\n"
    "  --modbus-tcp [HOST:]PORT  serve the adapters through a Modbus TCP to RTU\n"
    "                    gateway instead, to one client at a time: exception 0B\n"
    "                    for a unit that does not answer; the first line on\n"
    "                    stdout is then the tool's port name, modbus-tcp://HOST:PORT\n"
    "  --state FILE      the adapter's memory (created with the factory set)\n"
    "  --address N       its address, 1..247 (default: stored one, or 1)\n"
    "  --adapter A[:F]   one more adapter at address A, memory in file F\n"
    "  --journal FILE    log every frame received and sent, with times\n"
    "  --turnaround MS   pause between a request and its answer (default 3)\n"
    "  --fault RULE      KIND[:ARG][,reg=R][,fn=F][,addr=A][,nth=N|every=N|first=N]\n"
    "                    KIND: silent, late:MS, noise:N, badcrc[:swap], truncate:N,\n"
    "                    short:N, exception:CODE, oversize:N, twin\n"
    "                    (see README)\n"
    "  --echo            the line echoes every request before its answer, as a\n"
    "                    converter that hears its own transmitter\n"
    "  --unplug N[:MS]   the Nth request goes unanswered: the terminal closes and\n"
    "                    the link goes, as a converter pulled out; MS ms later\n"
    "                    (default 1000) a new terminal comes up under the link\n"
    "                    and its path is printed as a further line\n"
    "Runs until SIGINT or SIGTERM.\n";

namespace {

// The whole text as a number within [low, high], or nothing.
template <typename Number, typename Parse>
std::optional<Number> WholeNumber(const std::string& text, Parse parse, Number low, Number high) {
  std::size_t used = 0;
  Number value{};
  try {
    value = parse(text, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (used != text.size() || value < low || value > high) return std::nullopt;
  return value;
}

int address(const std::string& text) {
  const auto parse = [](const std::string& t, std::size_t* used) { return std::stoi(t, used); };
  if (const auto value = WholeNumber(text, parse, 1, 247)) return *value;
  throw std::invalid_argument("bad address \"" + text + "\": expected 1..247");
}

double milliseconds(const std::string& text) {
  const auto parse = [](const std::string& t, std::size_t* used) { return std::stod(t, used); };
  if (const auto value = WholeNumber(text, parse, 0.0, 10000.0)) return *value;
  throw std::invalid_argument("bad --turnaround \"" + text + "\": expected 0..10000 ms");
}

UnplugOption unplug(const std::string& text) {
  const auto colon = text.find(':');
  const auto count = [](const std::string& t, std::size_t* used) { return std::stoi(t, used); };
  const auto ms = [](const std::string& t, std::size_t* used) { return std::stod(t, used); };
  const auto request = WholeNumber(text.substr(0, colon), count, 1, 1000000);
  const auto gap = colon == std::string::npos
                       ? std::optional<double>(UnplugOption{}.gapMs)
                       : WholeNumber(text.substr(colon + 1), ms, 0.0, 60000.0);
  if (!request || !gap)
    throw std::invalid_argument("bad --unplug \"" + text +
                                "\": expected N[:MS], N 1..1000000, MS 0..60000");
  return {*request, *gap};
}

// "PORT", "HOST:PORT" or "[IPV6]:PORT".
TcpOption tcpEndpoint(const std::string& option, const std::string& text) {
  TcpOption tcp;
  std::string port = text;
  const auto colon = text.rfind(':');
  if (colon != std::string::npos) {
    tcp.host = text.substr(0, colon);
    if (tcp.host.size() >= 2 && tcp.host.front() == '[' && tcp.host.back() == ']')
      tcp.host = tcp.host.substr(1, tcp.host.size() - 2);
    port = text.substr(colon + 1);
  }
  const auto parse = [](const std::string& t, std::size_t* used) { return std::stoi(t, used); };
  const auto number = WholeNumber(port, parse, 0, 65535);
  if (!number || tcp.host.empty())
    throw std::invalid_argument("bad " + option + " \"" + text +
                                "\": expected [HOST:]PORT, PORT 0..65535");
  tcp.port = *number;
  return tcp;
}

AdapterOption extraAdapter(const std::string& text) {
  const auto colon = text.find(':');
  AdapterOption adapter{address(text.substr(0, colon)), ""};
  if (colon != std::string::npos) adapter.statePath = text.substr(colon + 1);
  return adapter;
}

// What each option that takes a value does with it.
using ValueOption = void (*)(Options&, const std::string&);
const std::map<std::string, ValueOption>& valueOptions() {
  static const std::map<std::string, ValueOption> options = {
      {"--link", [](Options& o, const std::string& v) { o.link = v; }},
      {"--state", [](Options& o, const std::string& v) { o.adapters.front().statePath = v; }},
      {"--address",
       [](Options& o, const std::string& v) { o.adapters.front().address = address(v); }},
      {"--adapter",
       [](Options& o, const std::string& v) { o.adapters.push_back(extraAdapter(v)); }},
      {"--journal", [](Options& o, const std::string& v) { o.journal = v; }},
      {"--turnaround", [](Options& o, const std::string& v) { o.turnaroundMs = milliseconds(v); }},
      {"--fault", [](Options& o, const std::string& v) { o.faults.push_back(parseFault(v)); }},
      {"--unplug", [](Options& o, const std::string& v) { o.unplug = unplug(v); }},
      {"--tcp", [](Options& o, const std::string& v) { o.tcp = tcpEndpoint("--tcp", v); }},
      {"--modbus-tcp",
       [](Options& o, const std::string& v) { o.modbusTcp = tcpEndpoint("--modbus-tcp", v); }},
  };
  return options;
}

}  // namespace

Options parseOptions(int argc, char** argv) {
  Options options;
  options.adapters.emplace_back();
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      options.help = true;
      continue;
    }
    if (option == "--echo") {
      options.echo = true;
      continue;
    }
    // An unknown word is named as such even when nothing follows it.
    const auto known = valueOptions().find(option);
    if (known == valueOptions().end()) throw std::invalid_argument("unknown option " + option);
    if (i + 1 >= argc) throw std::invalid_argument("missing value after " + option);
    known->second(options, argv[++i]);
  }
  if (options.tcp && !options.link.empty())
    throw std::invalid_argument("--link names a terminal, which --tcp does not make");
  if (options.tcp && options.unplug)
    throw std::invalid_argument("--unplug closes a terminal, which --tcp does not make");
  if (options.modbusTcp && (options.tcp || !options.link.empty() || options.unplug))
    throw std::invalid_argument(
        "--modbus-tcp serves a gateway's port, not with --tcp, --link or --unplug");
  if (options.modbusTcp && options.echo)
    throw std::invalid_argument("--echo is a line's, which the gateway keeps to itself");
  return options;
}

}  // namespace sim
