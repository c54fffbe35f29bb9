#pragma once
// Modbus TCP framing (MBAP), for a line that reaches the adapters through a
// Modbus TCP to RTU gateway (TLineFraming::Mbap). The requests build RTU
// frames and judge RTU answers whatever the line; on such a line each frame
// goes out as its ADU: the MBAP header (a transaction id of its own, protocol
// 0, the length, the unit: the adapter's address) and the PDU, without the
// CRC. What comes back is cut into ADUs by their lengths and each is judged
// against the request sent last: only an ADU of its transaction, from its
// unit, as long as an answer to it can be, is its answer, and goes back to
// the requests as the RTU frame a line would have carried (its CRC added), so
// that every check of an answer holds on this line as on any. Any other ADU
// is no answer to it: it never becomes a value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class MbapVerdict {
  Answer,            // the answer to the request: `rtu` is it
  GatewayFailure,    // the gateway's exception 0x0A or 0x0B: nobody answered on its line
  OtherTransaction,  // a sound ADU of another transaction (`rtu`): not this request's
  WrongUnit,         // of this transaction, from another unit
  WrongLength,       // of this transaction, of a length no answer to the request has
  BadHeader,         // not Modbus (a protocol other than 0) or a length no ADU has: what
                     // had come is dropped, the stream cannot be followed there
  Incomplete,        // the start of an ADU whose rest never came
};

struct MbapAdu {
  std::string wire;  // the bytes as they came over the connection
  MbapVerdict verdict = MbapVerdict::Incomplete;
  uint16_t transaction = 0;
  uint8_t unit = 0;
  std::string rtu;  // the unit, the PDU and its CRC (not for BadHeader, Incomplete)
};

// The exception code of a gateway's own refusal (0x0A: no path to the line,
// 0x0B: the device did not respond), when the RTU answer is one.
std::optional<uint8_t> GatewayExceptionCode(std::string_view rtu);

class MbapFraming {
 public:
  static constexpr size_t kHeaderBytes = 7;  // transaction, protocol, length, unit
  // The length field counts the unit and the PDU: 253 bytes of PDU at most.
  static constexpr size_t kMaxLength = 254;
  static constexpr size_t kMaxAduBytes = kHeaderBytes - 1 + kMaxLength;

  // The ADU carrying `rtuFrame` (address, PDU, CRC), with the next
  // transaction id; ADUs are judged against it from now on.
  std::string Wrap(std::string_view rtuFrame);
  // The ADUs that `bytes` complete, in order, each judged. At most one ADU's
  // start (kMaxAduBytes) waits for the rest.
  std::vector<MbapAdu> Take(std::string_view bytes);
  // The start of an ADU still waiting for its rest, given up (before the
  // next request goes out): nothing when none waits.
  std::optional<MbapAdu> DropPartial();
  // The transaction id the next request gets.
  uint16_t NextTransaction() const { return next_; }

 private:
  MbapAdu Judge(std::string wire) const;

  uint16_t next_ = 1;
  std::optional<uint16_t> awaited_;  // the transaction of the request sent last
  std::string request_;              // that request's RTU frame
  std::string partial_;
};
