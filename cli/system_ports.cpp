#include "cli/system_ports.h"

#include "modbus/clock.h"
#include "serial/comport.h"

namespace {

// A port of the system on a component of its own, in real time.
class SystemPortLine final : public PortLine {
 public:
  SystemPortLine(const QString& name, TComStopEvent* stop) {
    port_.SetStopEvent(stop);
    OpenAdapterLine(port_, name.toStdString());
  }
  TComLink& Link() override { return port_; }
  ExchangeClock& Clock() override { return TheSystemClock(); }

 private:
  TComPort port_;
};

}  // namespace

PortAccess SystemPortAccess(TComPort& port, TComStopEvent* stop) {
  return {[&port](const QString& name) { OpenAdapterLine(port, name.toStdString()); },
          [] { return EnumComPortsDescribed(); },
          [stop](const QString& name) { return std::make_unique<SystemPortLine>(name, stop); }};
}
