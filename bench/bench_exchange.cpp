// A full read and a full write of the sixteen parameters against the adapter
// simulator, request after request as the windows send them (without the
// windows' own pauses between parameters): on its pseudo-terminal, then over
// loopback TCP (tl8sim --tcp, a raw device server; the allowance the round
// trip gives is in the fixed delays). Prints the wall time next to the fixed
// delays of the requests plus the time their bytes take on a 9600 bit/s line,
// and the CPU time the tool's side used.

#include "modbus/exchange_state.h"
#include "modbus/params.h"
#include "modbus/requests.h"
#include "serial/comport.h"
#include "tests/support/sim_process.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace {

constexpr double kByteMs = 10 * 1000.0 / 9600;  // start, 8 data and stop bits

struct Phase {
  const char* name;
  int requestBytes;                         // per parameter
  int delayMs;                              // fixed delays per parameter
  std::function<bool(int index)> exchange;  // false when the adapter did not answer usably
};

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void Run(const Phase& phase) {
  const double cpuBefore = CpuMs();
  const auto start = std::chrono::steady_clock::now();
  int failures = 0;
  for (int i = 1; i <= kParamCount; ++i) failures += phase.exchange(i) ? 0 : 1;
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const double cpuMs = CpuMs() - cpuBefore;
  const double delaysMs = kParamCount * phase.delayMs;
  const double lineMs = kParamCount * phase.requestBytes * kByteMs;
  std::printf("%-8s %8.1f %9.1f %8.1f %+9.2f%% %+9.2f%% %7.1f %6.2f%% %6d\n", phase.name, wallMs,
              delaysMs, lineMs, 100 * (wallMs / delaysMs - 1),
              100 * (wallMs / (delaysMs + lineMs) - 1), cpuMs, 100 * cpuMs / wallMs, failures);
}

// Three rounds of the read and the write on the line `name` leads to.
int RunOn(const std::string& name) {
  TComPort port;
  port.SetEvents({});
  port.SetPort(name);
  port.OpenPort();
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests(port, exchange, params);
  exchange.DeviceAddress = 1;

  ImageTexts texts;
  const char* factory[] = {"1010", "630", "16",  "4",   "85", "-40",
                           "16",   "4",   "200", "1.5", "16", "4"};
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = factory[i - 1];
  texts.SerialNumber = "0101001";
  texts.Address = "1";
  texts.Moment = QDateTime::currentDateTime();
  if (!BuildParamImage(texts, params, exchange)) return 1;

  const int allowance = port.LatencyAllowanceMs();
  const Phase read{"read16", 8, 100 + 20 + allowance, [&](int i) {
                     exchange.ParamIndex = i;
                     requests.ReadParameter(0);
                     return exchange.ResponseStatus == 0;
                   }};
  const Phase write{"write16", 13, 80 + 20 + allowance, [&](int i) {
                      exchange.ParamIndex = i;
                      requests.WriteParameter();
                      return exchange.ResponseText.size() >= 3;
                    }};
  std::printf("simulator on %s, latency allowance %d ms\n", name.c_str(), allowance);
  // Neither a pseudo-terminal nor loopback TCP paces the request, so the line
  // time of a real 9600 bit/s line is shown beside the wall time rather than
  // inside it.
  std::printf("%-8s %8s %9s %8s %10s %10s %7s %7s %6s\n", "phase", "wall ms", "delays ms",
              "line ms", "vs delays", "vs d+line", "cpu ms", "cpu", "failed");
  for (int round = 0; round < 3; ++round) {
    Run(read);
    Run(write);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const tl8test::SimProcess terminal;
  const tl8test::SimProcess server({"--tcp", "0"});
  if (int failed = RunOn(terminal.port())) return failed;
  std::printf("\n");
  return RunOn(server.port());
}
