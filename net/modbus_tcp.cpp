#include "net/modbus_tcp.h"

#include "os/platform.h"

std::unique_ptr<TLineBackend> OpenModbusTcpLine(const std::string& name,
                                                const TComStopEvent* stop) {
  if (const std::optional<TNetNameProblem> problem = NetPortNameProblem(name))
    throw EComPort(ceOpenFailed, comdev::kNetBadName, NetNameProblemText(*problem));
  return std::make_unique<TModbusTcpLine>(*ParseNetPortName(name), stop);
}

TModbusTcpLine::TModbusTcpLine(const TNetPortName& name, const TComStopEvent* stop)
    : line_(name, stop) {}
