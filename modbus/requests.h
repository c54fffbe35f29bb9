#pragma once
// The Modbus RTU requests the tool sends to the adapter and the two loops that
// collect its answers. Each request builds its frame in the exchange state,
// sends it in one port write, waits its fixed delays, collects what arrived
// and leaves the results in the exchange state; none of them returns a value
// or retries. Port errors are not caught here.

#include "modbus/exchange_state.h"
#include "modbus/params.h"

#include <cstdint>
#include <initializer_list>

class TCustomComPort;
class TComStopEvent;

class ModbusRequests {
 public:
  ModbusRequests(TCustomComPort& port, ExchangeState& exchange = Exchange(),
                 ParamData& params = Params());

  // The event that ends ReadDataModbus's waits early; may be null.
  void SetStopEvent(TComStopEvent* stopEvent) { stopEvent_ = stopEvent; }

  // Function 6 to DeviceAddress: 50 ms, collect, 10 ms.
  void WriteSingleRegister(uint16_t reg, uint16_t value);
  // Function 16 of parameter ParamIndex from its four ParamImage bytes:
  // 80 ms, collect, 20 ms.
  void WriteParameter();
  // Mode 0: function 3 of parameter ParamIndex, 100 ms, collect, 20 ms, then
  // ResponseStatus and the decoded values. Mode 1: the probe, function 3 of the
  // seven registers from 0, 50 ms, collect, no check. Other modes: nothing.
  void ReadParameter(int32_t mode);

  // The first FrameLength slots of TxFrame, in one port write. For the
  // frames that callers build themselves (see ExchangeState::AppendCrc).
  void SendFrame();

  // A frame its caller composes (the address search and write, the
  // pass-through command): the body and its CRC in TxFrame, one port write,
  // then ReadDataModbus collects the answer until the line falls silent.
  void SendOwnFrame(std::initializer_list<int> body);

  // 300 polls in a row of what is waiting at the port, without waiting.
  void CollectResponse();
  // Collects until 80 ms pass without a byte (or 300 reads); needs no delay
  // before it. The waits block without handling events; errors of the wait
  // itself are ignored.
  void ReadDataModbus();

 private:
  // Puts the frame body into TxFrame, appends the CRC and sends it.
  void Send(std::initializer_list<int> body);
  void CheckParameterAnswer(int rawOffset);

  TCustomComPort& port_;
  ExchangeState& exchange_;
  ParamData& params_;
  TComStopEvent* stopEvent_ = nullptr;
};

// The process-wide requests, bound by the main window to its port. Requests()
// throws std::logic_error before BindRequests; BindRequests(nullptr) unbinds.
void BindRequests(TCustomComPort* port);
ModbusRequests& Requests();
