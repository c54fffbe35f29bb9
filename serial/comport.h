#pragma once
// The serial port component: one port's settings, opening and closing the
// device, pushing settings to it, writing, waiting for received characters
// and reading them, and saving the settings to the per-user settings store.
// Everything runs on the caller's thread; failures raise EComPort.

#include "os/platform.h"
#include "serial/link.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

enum TBaudRate {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
// The groups of settings SaveSettings writes.
enum TStoredGroup { sgLine, sgFlow, sgBuffer, sgTimeouts, sgParity, sgOther };
// The steps that push settings to an open device, in the order OpenPort runs them.
enum TApplyStep { asBuffer, asLine, asTimeouts };

using TStoredGroups = TEnumSet<TStoredGroup>;

class TCustomComPort;

class TComParity {
 public:
  explicit TComParity(TCustomComPort& port) : port_(port) {}
  TComParity(const TComParity&) = delete;
  TComParity& operator=(const TComParity&) = delete;

  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits value);
  bool Check() const { return check_; }
  void SetCheck(bool value);
  bool Replace() const { return replace_; }
  void SetReplace(bool value);
  std::uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(std::uint8_t value);

 private:
  TCustomComPort& port_;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  std::uint8_t replaceChar_ = 0;
};

class TComFlowControl {
 public:
  explicit TComFlowControl(TCustomComPort& port) : port_(port) {}
  TComFlowControl(const TComFlowControl&) = delete;
  TComFlowControl& operator=(const TComFlowControl&) = delete;

  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl value);
  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool value);
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value);
  std::uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(std::uint8_t value);
  std::uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(std::uint8_t value);

  // Derived from ControlRTS, OutCTSFlow and the XON/XOFF flags; setting it
  // rewrites those fields (fcCustom leaves them) and re-applies the line.
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl value);

 private:
  TCustomComPort& port_;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
};

// Milliseconds, as unsigned 32-bit counts of the platform's timeout record.
class TComTimeouts {
 public:
  explicit TComTimeouts(TCustomComPort& port) : port_(port) {}
  TComTimeouts(const TComTimeouts&) = delete;
  TComTimeouts& operator=(const TComTimeouts&) = delete;

  int ReadInterval() const { return readInterval_; }
  void SetReadInterval(int value);
  int ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(int value);
  int ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(int value);
  int WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(int value);
  int WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(int value);

 private:
  TCustomComPort& port_;
  int readInterval_ = 20;
  int readTotalMultiplier_ = 20;
  int readTotalConstant_ = 50;
  int writeTotalMultiplier_ = 100;
  int writeTotalConstant_ = 1000;
};

class TComBuffer {
 public:
  explicit TComBuffer(TCustomComPort& port) : port_(port) {}
  TComBuffer(const TComBuffer&) = delete;
  TComBuffer& operator=(const TComBuffer&) = delete;

  int InputSize() const { return inputSize_; }
  void SetInputSize(int value);
  int OutputSize() const { return outputSize_; }
  void SetOutputSize(int value);

 private:
  TCustomComPort& port_;
  int inputSize_ = 1024;
  int outputSize_ = 1024;
};

class TCustomComPort : public TComLink {
 public:
  explicit TCustomComPort(std::string name = "ComPort");
  ~TCustomComPort() override;  // closes the port
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  const std::string& Name() const { return name_; }

  // Settings. A setter does nothing when the value is unchanged; otherwise it
  // re-applies its group to an open device outside an update bracket.
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);  // an open port is reopened at once
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  std::uint8_t EventChar() const { return eventChar_; }
  void SetEventChar(std::uint8_t value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);

  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }

  // Plain values: they take effect at the next opening or saving.
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TStoredGroups StoredGroups() const { return storedGroups_; }
  void SetStoredGroups(TStoredGroups value) { storedGroups_ = value; }

  // Opening also replaces a line that is gone (see Connected). The kind of
  // line Port() names is its backend (serial/line_kinds.h): a local device,
  // or a connection to a serial device server for tcp://HOST:PORT and
  // rfc2217://HOST:PORT (net/netline.h) or to a Modbus TCP gateway for
  // modbus-tcp://HOST[:PORT] (net/modbus_tcp.h); every operation then goes
  // there.
  void OpenPort();
  // Opens the port on a line made elsewhere (the tests' simulated adapter)
  // in place of the one Port() names; the settings are pushed to it as to
  // any.
  void OpenLine(std::unique_ptr<TLineBackend> line);
  void ClosePort();
  // False once the device's line is gone (hung up, a USB converter pulled
  // out) even before an operation failed on it: only opening the name again
  // can bring such a line back.
  bool Connected() const override;

  void BeginSettingsUpdate() { ++updateDepth_; }
  void EndSettingsUpdate();
  int UpdateDepth() const { return updateDepth_; }

  // Returns the number of bytes written; fewer when the write timeouts run out.
  int WriteBytes(const void* buffer, int count) override;
  // Received bytes waiting to be read.
  int PendingInputCount() override;
  // Up to `count` bytes, ended early by the read timeouts.
  std::string ReadBytes(int count) override;
  // Waits for one of `events`, the stop event or the timeout (ms; negative:
  // no limit); leaves in `events` what occurred, empty on timeout or stop. A
  // failure leaves `events` untouched.
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override;
  // What a network line adds to every wait for an answer, and its learning;
  // 0 and nothing for a device.
  int LatencyAllowanceMs() const override;
  bool LearnsLatency() const override;
  void LearnLatency(int delayMs, bool late) override;
  int LateAnswerAllowanceMs() const override;
  // The event that ends a network line's waits at once: its opening (the
  // connection and the settings), its sends and its receives; may be null.
  // The port does not own it, and an open line gets the new one at once.
  void SetStopEvent(TComStopEvent* stopEvent);
  // What the line's latest settings could not make sure of (see TComLink).
  std::vector<std::string> SettingsNotes() const override;
  // The open line's framing: MBAP for a Modbus TCP gateway, else RTU.
  TLineFraming Framing() const override;
  // Writes the groups in StoredGroups under keyPath + "\" + Name().
  void SaveSettings(const std::string& keyPath);

  // How many times each step has been pushed to a device.
  int AppliedCount(TApplyStep step) const { return appliedCount_[step]; }

 private:
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;

  template <class T>
  void Change(T& field, const T& value, TApplyStep step);
  void Reapply(TApplyStep step);
  void ApplyAll();
  void ApplyStep(TApplyStep step);
  // Runs an operation on the line; without one it fails with `errorCode` and
  // the system's code for a device that is not open. A line that a failure
  // has given up is dropped before the failure goes on, so the port reads as
  // closed and the next opening starts afresh with the name.
  template <class Operation>
  auto OnLine(int errorCode, Operation operation);

  std::string name_;
  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  int customBaudRate_ = 9600;
  TDataBits dataBits_ = dbEight;
  TStopBits stopBits_ = sbOneStopBit;
  std::uint8_t eventChar_ = 0;
  bool discardNull_ = false;
  TComParity parity_{*this};
  TComFlowControl flowControl_{*this};
  TComTimeouts timeouts_{*this};
  TComBuffer buffer_{*this};
  TComEvents events_{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                     evCTS,    evDSR,     evError,  evRLSD, evRx80Full};
  TStoredGroups storedGroups_{sgLine};
  int updateDepth_ = 0;
  int appliedCount_[3] = {0, 0, 0};
  std::unique_ptr<TLineBackend> line_;  // the open line, if any
  int lostCode_ = -1;  // the system's code of the failure that lost the last line, if any
  TComStopEvent* stopEvent_ = nullptr;
};

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

// Opens `port` on the adapter's own line, as tl8ctl opens it: the
// component's 9600 8N1 with DTR and RTS raised, no event watched; a port
// opened before is closed first. Throws EComPort when it does not open.
void OpenAdapterLine(TComPort& port, const std::string& name);

// Texts of the settings, as the port dialog and the saved settings use them.
// Text to value ignores letter case; an unknown text gives the fallback
// (br9600, dbEight, sbOneStopBit, prNone, fcCustom, dtrDisable, rtsDisable,
// false, byte 0).
std::string BaudRateToStr(TBaudRate value);
TBaudRate StrToBaudRate(const std::string& text);
std::string DataBitsToStr(TDataBits value);
TDataBits StrToDataBits(const std::string& text);
std::string StopBitsToStr(TStopBits value);
TStopBits StrToStopBits(const std::string& text);
std::string ParityToStr(TParityBits value);
TParityBits StrToParity(const std::string& text);
std::string FlowControlToStr(TFlowControl value);
TFlowControl StrToFlowControl(const std::string& text);
std::string DTRToStr(TDTRFlowControl value);
TDTRFlowControl StrToDTR(const std::string& text);
std::string RTSToStr(TRTSFlowControl value);
TRTSFlowControl StrToRTS(const std::string& text);
std::string BoolToStr(bool value);  // "Yes" / "No"
bool StrToBool(const std::string& text);
// A byte from 33 to 127 as that character, any other as "#" and its number.
std::string CharToStr(std::uint8_t value);
std::uint8_t StrToChar(const std::string& text);

// All texts of a type, in the order of its values.
const std::vector<std::string>& BaudRateTexts();
const std::vector<std::string>& DataBitsTexts();
const std::vector<std::string>& StopBitsTexts();
const std::vector<std::string>& ParityTexts();
const std::vector<std::string>& FlowControlTexts();
const std::vector<std::string>& DTRTexts();
const std::vector<std::string>& RTSTexts();
const std::vector<std::string>& BoolTexts();

// Bits per second of a named rate (0 for brCustom).
int BaudRateBits(TBaudRate value);

// The system's serial ports as a user types them (ttyUSB0, COM1), sorted
// without regard to letter case. Failure raises "Registry error".
std::vector<std::string> EnumComPorts();

// The ports of EnumComPorts, in its order, each with what the system knows of
// it. Finding out writes nothing to any port and leaves its modem lines alone
// where the system allows (see comdev::DescribeSystemPorts). Failure raises
// "Registry error".
std::vector<ComPortInfo> EnumComPortsDescribed();
