#pragma once
// A Modbus TCP to RTU gateway in front of the simulated line, as the boxes
// on a plant's Ethernet are: each ADU a client sends (the MBAP header:
// transaction, protocol 0, length, unit; then the PDU) goes onto the RS-485
// line as an RTU frame to its unit, and the answer that comes off the line
// goes back in an ADU with the request's header. A unit that does not answer
// within the gateway's response timeout, or whose answer comes garbled (a
// wrong CRC, cut short, noise), gets the gateway's exception 0x0B, "gateway
// target device failed to respond". A broadcast (unit 0) goes onto the line
// and nobody answers it; a gateway that does not pass broadcasts on drops it.
//
// The gateway is the simulator's output: it sees how long the line is quiet
// before the answer and what the answer is, and works out when its own reply
// leaves. Whoever carries the TCP side (the program's TCP port, a simulated
// link in a test) hands it what comes in (take), serves each ADU in turn and
// sends the reply after its time, whole.

#include "output.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class Journal;
class Simulator;

struct GatewaySetup {
  // How long the gateway waits for the first byte of an answer after its
  // request has gone out: a quick gateway on a 9600 bit/s line.
  double responseTimeoutMs = 50;
  bool passesBroadcasts = true;
};

class Gateway final : public Output {
 public:
  static constexpr std::size_t kHeaderBytes = 7;
  static constexpr std::size_t kMaxAduBytes = 260;  // 253 bytes of PDU

  struct Reply {
    double afterMs = 0;  // from the moment the gateway took the request
    Bytes adu;           // empty: nothing goes back
  };

  explicit Gateway(Journal& journal, GatewaySetup setup = {});

  // The whole ADUs that `bytes` complete, in order. At most one ADU's start
  // waits for its rest; bytes that are no MBAP header are dropped.
  std::vector<Bytes> take(const Bytes& bytes);
  // A new client: nothing of the last one's stream is kept.
  void restart() { stream_.clear(); }
  // Puts the ADU's request onto the line and works out the reply.
  Reply serve(Simulator& line, const Bytes& adu);

  // The line's side: the simulator's answers come here.
  bool pause(double ms) override;
  bool send(const Bytes& bytes) override;

 private:
  Reply refusal(const Bytes& adu, double afterMs, const char* why);

  Journal& journal_;
  GatewaySetup setup_;
  Bytes stream_;
  double quietMs_ = 0;  // the line's quiet time before the answer
  Bytes answer_;        // what came off the line
};

}  // namespace sim
