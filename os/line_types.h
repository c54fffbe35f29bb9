#pragma once
// What the port component and the operating system's side of a line share:
// the events a wait watches for, the line's settings as they are pushed to a
// device (or to a device server's port), its timeouts, and a port as the
// system's port list shows it. Nothing here includes anything of the tool.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

enum TComEvent {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};

// A small value-type set of one of the enums (the events here, the port's
// stored groups).
template <class E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> items) {
    for (E item : items) insert(item);
  }
  constexpr bool contains(E item) const { return (bits_ & Bit(item)) != 0; }
  constexpr void insert(E item) { bits_ |= Bit(item); }
  constexpr void erase(E item) { bits_ &= ~Bit(item); }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr bool operator==(const TEnumSet&) const = default;

 private:
  static constexpr std::uint32_t Bit(E item) { return 1u << static_cast<unsigned>(item); }
  std::uint32_t bits_ = 0;
};

using TComEvents = TEnumSet<TComEvent>;

enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// A port as the port list shows it: what a user picks is the name alone.
struct ComPortInfo {
  ComPortInfo(std::string portName, std::string text = {}, bool held = false,
              bool kernelConsole = false, std::string devicePath = {})
      : name(std::move(portName)),
        description(std::move(text)),
        busy(held),
        console(kernelConsole),
        device(std::move(devicePath)) {}

  std::string name;         // as EnumComPorts lists it, and as the port's setting holds it
  std::string description;  // what the system knows of the device; empty when nothing
  bool busy = false;        // another program holds it
  // The kernel writes its console to it (Linux): not a line for an adapter,
  // whatever answers there. Never on Windows.
  bool console = false;
  // The device the name leads to (Linux: links resolved), the same for two
  // names of one port (a COMn link and its target); empty when not known,
  // and then the name is a port of its own.
  std::string device;

  bool operator==(const ComPortInfo&) const = default;
};

// What kept a network line (a serial device server) from opening, as the
// front ends tell it: the network side finds it, the tool's texts
// (ui/tool_texts.h) say it.
struct TNetOpenFailure {
  enum Kind {
    Refused,          // the host refused the connection: nobody listens at that port
    NoSuchHost,       // the name service knows no such host
    NoAnswer,         // no connection, or no answer to the settings, in time
    ServerText,       // the server closed the connection with words of its own
    SettingsRefused,  // an RFC 2217 server's port cannot take the line's settings
    BadName,          // the name is malformed
    Other,            // anything else: the failure's own message says it
  };
  Kind kind = Other;
  // The server's words (ServerText), which setting (SettingsRefused), what is
  // wrong with the name (BadName), the failure's message (Other); else empty.
  std::string detail;

  bool operator==(const TNetOpenFailure&) const = default;
};

namespace comdev {

// The line settings record, built afresh for every push.
struct LineSettings {
  int baudRate = 9600;  // bits per second
  int dataBits = 8;     // 5..8
  TParityBits parity = prNone;
  TStopBits stopBits = sbOneStopBit;
  bool parityCheck = false;
  bool parityReplace = false;
  std::uint8_t parityReplaceChar = 0;
  TDTRFlowControl dtr = dtrDisable;
  TRTSFlowControl rts = rtsDisable;
  bool outCTSFlow = false;
  bool outDSRFlow = false;
  bool dsrSensitivity = false;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  bool txContinueOnXoff = false;
  bool discardNull = false;
  int xonLimit = 0;
  int xoffLimit = 0;
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
  std::uint8_t eventChar = 0;
};

// Milliseconds; a zero multiplier and constant mean "no total limit".
struct TimeoutSettings {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

}  // namespace comdev
