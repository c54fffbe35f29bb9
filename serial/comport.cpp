// The platform-independent part of the port component: settings, texts,
// when settings reach the device, error reporting and saving.

#include "serial/comport.h"

#include "os/platform.h"
#include "serial/line_kinds.h"

#include <QVariant>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

bool SameText(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

template <class E>
E FromText(const std::vector<std::string>& texts, const std::string& text, E fallback) {
  const auto found = std::find_if(texts.begin(), texts.end(),
                                  [&](const std::string& t) { return SameText(t, text); });
  return found == texts.end() ? fallback : static_cast<E>(found - texts.begin());
}

comdev::LineSettings LineOf(const TCustomComPort& port) {
  const TComParity& parity = port.Parity();
  const TComFlowControl& flow = port.FlowControl();
  comdev::LineSettings line;
  line.baudRate =
      port.BaudRate() == brCustom ? port.CustomBaudRate() : BaudRateBits(port.BaudRate());
  line.dataBits = 5 + port.DataBits();
  line.parity = parity.Bits();
  line.stopBits = port.StopBits();
  line.parityCheck = parity.Check();
  line.parityReplace = parity.Check() && parity.Replace();
  line.parityReplaceChar = parity.ReplaceChar();
  line.dtr = flow.ControlDTR();
  line.rts = flow.ControlRTS();
  line.outCTSFlow = flow.OutCTSFlow();
  line.outDSRFlow = flow.OutDSRFlow();
  line.dsrSensitivity = flow.DSRSensitivity();
  line.xonXoffOut = flow.XonXoffOut();
  line.xonXoffIn = flow.XonXoffIn();
  line.txContinueOnXoff = flow.TxContinueOnXoff();
  line.discardNull = port.DiscardNull();
  line.xonLimit = line.xoffLimit = port.Buffer().InputSize() / 4;
  line.xonChar = flow.XonChar();
  line.xoffChar = flow.XoffChar();
  line.eventChar = port.EventChar();
  return line;
}

comdev::TimeoutSettings TimeoutsOf(const TComTimeouts& timeouts) {
  // The platform record holds unsigned counts; a negative value wraps as it would there.
  return {static_cast<std::uint32_t>(timeouts.ReadInterval()),
          static_cast<std::uint32_t>(timeouts.ReadTotalMultiplier()),
          static_cast<std::uint32_t>(timeouts.ReadTotalConstant()),
          static_cast<std::uint32_t>(timeouts.WriteTotalMultiplier()),
          static_cast<std::uint32_t>(timeouts.WriteTotalConstant())};
}

// --- Saving -----------------------------------------------------------------

void StoreText(comdev::SettingsValues& store, const char* name, const std::string& text) {
  store.emplace_back(QLatin1String(name), QString::fromStdString(text));
}

void StoreInt(comdev::SettingsValues& store, const char* name, int value) {
  store.emplace_back(QLatin1String(name), QVariant(static_cast<qint32>(value)));
}

void StoreLine(comdev::SettingsValues& store, const TCustomComPort& port) {
  StoreText(store, "Port", port.Port());
  StoreText(store, "BaudRate", BaudRateToStr(port.BaudRate()));
  if (port.BaudRate() == brCustom) StoreInt(store, "CustomBaudRate", port.CustomBaudRate());
  StoreText(store, "StopBits", StopBitsToStr(port.StopBits()));
  StoreText(store, "DataBits", DataBitsToStr(port.DataBits()));
  StoreText(store, "Parity", ParityToStr(port.Parity().Bits()));
  StoreText(store, "FlowControl", FlowControlToStr(port.FlowControl().FlowControl()));
}

void StoreOther(comdev::SettingsValues& store, const TCustomComPort& port) {
  StoreText(store, "EventChar", CharToStr(port.EventChar()));
  StoreText(store, "DiscardNull", BoolToStr(port.DiscardNull()));
}

void StoreParity(comdev::SettingsValues& store, const TCustomComPort& port) {
  StoreText(store, "Parity.Check", BoolToStr(port.Parity().Check()));
  StoreText(store, "Parity.Replace", BoolToStr(port.Parity().Replace()));
  StoreText(store, "Parity.ReplaceChar", CharToStr(port.Parity().ReplaceChar()));
}

void StoreBuffer(comdev::SettingsValues& store, const TCustomComPort& port) {
  StoreInt(store, "Buffer.OutputSize", port.Buffer().OutputSize());
  StoreInt(store, "Buffer.InputSize", port.Buffer().InputSize());
}

void StoreTimeouts(comdev::SettingsValues& store, const TCustomComPort& port) {
  const TComTimeouts& t = port.Timeouts();
  StoreInt(store, "Timeouts.ReadInterval", t.ReadInterval());
  StoreInt(store, "Timeouts.ReadTotalConstant", t.ReadTotalConstant());
  StoreInt(store, "Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
  StoreInt(store, "Timeouts.WriteTotalConstant", t.WriteTotalConstant());
  StoreInt(store, "Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
}

void StoreFlow(comdev::SettingsValues& store, const TCustomComPort& port) {
  const TComFlowControl& f = port.FlowControl();
  StoreText(store, "FlowControl.ControlRTS", RTSToStr(f.ControlRTS()));
  StoreText(store, "FlowControl.ControlDTR", DTRToStr(f.ControlDTR()));
  StoreText(store, "FlowControl.DSRSensitivity", BoolToStr(f.DSRSensitivity()));
  StoreText(store, "FlowControl.OutCTSFlow", BoolToStr(f.OutCTSFlow()));
  StoreText(store, "FlowControl.OutDSRFlow", BoolToStr(f.OutDSRFlow()));
  StoreText(store, "FlowControl.TxContinueOnXoff", BoolToStr(f.TxContinueOnXoff()));
  StoreText(store, "FlowControl.XonXoffIn", BoolToStr(f.XonXoffIn()));
  StoreText(store, "FlowControl.XonXoffOut", BoolToStr(f.XonXoffOut()));
  StoreText(store, "FlowControl.XoffChar", CharToStr(f.XoffChar()));
  StoreText(store, "FlowControl.XonChar", CharToStr(f.XonChar()));
}

// The groups in the order they are written.
struct GroupWriter {
  TStoredGroup group;
  void (*store)(comdev::SettingsValues&, const TCustomComPort&);
};
constexpr GroupWriter kGroupWriters[] = {
    {sgLine, StoreLine},     {sgOther, StoreOther},       {sgParity, StoreParity},
    {sgBuffer, StoreBuffer}, {sgTimeouts, StoreTimeouts}, {sgFlow, StoreFlow},
};

}  // namespace

// --- Owned setting objects --------------------------------------------------

void TComParity::SetBits(TParityBits value) { port_.Change(bits_, value, asLine); }
void TComParity::SetCheck(bool value) { port_.Change(check_, value, asLine); }
void TComParity::SetReplace(bool value) { port_.Change(replace_, value, asLine); }
void TComParity::SetReplaceChar(std::uint8_t value) { port_.Change(replaceChar_, value, asLine); }

void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  port_.Change(controlDTR_, value, asLine);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  port_.Change(controlRTS_, value, asLine);
}
void TComFlowControl::SetOutCTSFlow(bool value) { port_.Change(outCTSFlow_, value, asLine); }
void TComFlowControl::SetOutDSRFlow(bool value) { port_.Change(outDSRFlow_, value, asLine); }
void TComFlowControl::SetXonXoffOut(bool value) { port_.Change(xonXoffOut_, value, asLine); }
void TComFlowControl::SetXonXoffIn(bool value) { port_.Change(xonXoffIn_, value, asLine); }
void TComFlowControl::SetDSRSensitivity(bool value) {
  port_.Change(dsrSensitivity_, value, asLine);
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  port_.Change(txContinueOnXoff_, value, asLine);
}
void TComFlowControl::SetXonChar(std::uint8_t value) { port_.Change(xonChar_, value, asLine); }
void TComFlowControl::SetXoffChar(std::uint8_t value) { port_.Change(xoffChar_, value, asLine); }

TFlowControl TComFlowControl::FlowControl() const {
  const bool bothXon = xonXoffIn_ && xonXoffOut_;
  const bool noXon = !xonXoffIn_ && !xonXoffOut_;
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && noXon) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && bothXon) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && noXon) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    controlRTS_ = value == fcHardware ? rtsHandshake : rtsDisable;
    outCTSFlow_ = value == fcHardware;
    xonXoffIn_ = xonXoffOut_ = value == fcSoftware;
  }
  // Several fields change together, so the line goes out once, whatever the value.
  port_.Reapply(asLine);
}

void TComTimeouts::SetReadInterval(int value) { port_.Change(readInterval_, value, asTimeouts); }
void TComTimeouts::SetReadTotalMultiplier(int value) {
  port_.Change(readTotalMultiplier_, value, asTimeouts);
}
void TComTimeouts::SetReadTotalConstant(int value) {
  port_.Change(readTotalConstant_, value, asTimeouts);
}
void TComTimeouts::SetWriteTotalMultiplier(int value) {
  port_.Change(writeTotalMultiplier_, value, asTimeouts);
}
void TComTimeouts::SetWriteTotalConstant(int value) {
  port_.Change(writeTotalConstant_, value, asTimeouts);
}

void TComBuffer::SetInputSize(int value) { port_.Change(inputSize_, value, asBuffer); }
void TComBuffer::SetOutputSize(int value) { port_.Change(outputSize_, value, asBuffer); }

// --- The port ---------------------------------------------------------------

TCustomComPort::TCustomComPort(std::string name) : name_(std::move(name)) {}

TCustomComPort::~TCustomComPort() {
  try {
    ClosePort();
  } catch (const EComPort&) {
    // The line is closed without aborting its transfers when line_ goes.
  }
}

template <class T>
void TCustomComPort::Change(T& field, const T& value, TApplyStep step) {
  if (field == value) return;
  field = value;
  Reapply(step);
}

void TCustomComPort::Reapply(TApplyStep step) {
  if (Connected() && updateDepth_ == 0) ApplyStep(step);
}

template <class Operation>
auto TCustomComPort::OnLine(int errorCode, Operation operation) {
  // After a loss, every operation tells of the loss, not of a closed handle.
  if (!line_ && lostCode_ >= 0) throw EComPort(errorCode, lostCode_, "the line is lost");
  if (!line_) throw EComPort(errorCode, comdev::kInvalidDevice);
  try {
    return operation(*line_);
  } catch (const EComPort& failure) {
    if (!line_->Connected()) {
      line_.reset();
      lostCode_ = failure.WinCode();
    }
    throw;
  }
}

void TCustomComPort::ApplyStep(TApplyStep step) {
  ++appliedCount_[step];
  switch (step) {
    case asBuffer:
      OnLine(ceSetupFailed, [&](TLineBackend& line) {
        line.SetBuffers(buffer_.InputSize(), buffer_.OutputSize());
      });
      break;
    case asLine:
      OnLine(ceSetStateFailed,
             [&](TLineBackend& line) { line.SetLine(LineOf(*this), stopEvent_); });
      break;
    case asTimeouts:
      OnLine(ceSetTimeoutsFailed,
             [&](TLineBackend& line) { line.SetTimeouts(TimeoutsOf(timeouts_)); });
      break;
  }
}

void TCustomComPort::ApplyAll() {
  if (updateDepth_ > 0) return;
  for (TApplyStep step : {asBuffer, asLine, asTimeouts}) ApplyStep(step);
}

bool TCustomComPort::Connected() const { return line_ && line_->Connected(); }

int TCustomComPort::LatencyAllowanceMs() const { return line_ ? line_->LatencyAllowanceMs() : 0; }

bool TCustomComPort::LearnsLatency() const { return line_ && line_->LearnsLatency(); }

void TCustomComPort::LearnLatency(int delayMs, bool late) {
  if (line_) line_->LearnLatency(delayMs, late);
}

int TCustomComPort::LateAnswerAllowanceMs() const {
  return line_ ? line_->LateAnswerAllowanceMs() : 0;
}

std::vector<std::string> TCustomComPort::SettingsNotes() const {
  return line_ ? line_->SettingsNotes() : std::vector<std::string>{};
}

TLineFraming TCustomComPort::Framing() const {
  return line_ ? line_->Framing() : TLineFraming::Rtu;
}

void TCustomComPort::SetStopEvent(TComStopEvent* stopEvent) {
  stopEvent_ = stopEvent;
  if (line_) line_->SetStopEvent(stopEvent);
}

void TCustomComPort::SetPort(const std::string& value) {
  if (port_ == value) return;
  port_ = value;
  if (!Connected()) return;
  ClosePort();
  OpenPort();
}

void TCustomComPort::SetBaudRate(TBaudRate value) { Change(baudRate_, value, asLine); }
void TCustomComPort::SetCustomBaudRate(int value) { Change(customBaudRate_, value, asLine); }
void TCustomComPort::SetDataBits(TDataBits value) { Change(dataBits_, value, asLine); }
void TCustomComPort::SetStopBits(TStopBits value) { Change(stopBits_, value, asLine); }
void TCustomComPort::SetEventChar(std::uint8_t value) { Change(eventChar_, value, asLine); }
void TCustomComPort::SetDiscardNull(bool value) { Change(discardNull_, value, asLine); }

void TCustomComPort::OpenPort() {
  if (Connected()) return;
  line_.reset();  // a line that is gone, if any
  OpenLine(LineKindOf(port_).open(port_, stopEvent_));
}

void TCustomComPort::OpenLine(std::unique_ptr<TLineBackend> line) {
  line_ = std::move(line);
  lostCode_ = -1;
  line_->SetStopEvent(stopEvent_);
  try {
    ApplyAll();
  } catch (const EComPort&) {
    line_.reset();
    throw;
  }
}

void TCustomComPort::ClosePort() {
  lostCode_ = -1;
  if (!line_) return;
  line_->Close();  // on failure the line stays open
  line_.reset();
}

void TCustomComPort::EndSettingsUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ == 0 && Connected()) ApplyAll();
}

int TCustomComPort::WriteBytes(const void* buffer, int count) {
  return OnLine(ceWriteFailed, [&](TLineBackend& line) { return line.WriteBytes(buffer, count); });
}

int TCustomComPort::PendingInputCount() {
  return OnLine(ceClearErrorFailed, [](TLineBackend& line) { return line.PendingInputCount(); });
}

std::string TCustomComPort::ReadBytes(int count) {
  if (count <= 0) return {};
  return OnLine(ceReadFailed, [count](TLineBackend& line) { return line.ReadBytes(count); });
}

void TCustomComPort::WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) {
  OnLine(ceWaitFailed,
         [&](TLineBackend& line) { line.WaitForEvent(events, stopEvent, timeoutMs); });
}

void TCustomComPort::SaveSettings(const std::string& keyPath) {
  const auto slash = keyPath.find('\\');
  // Without a "\" there is no key to write under.
  if (slash == std::string::npos) throw EComPort(ceStoreFailed);
  std::string key = keyPath.substr(slash + 1);
  if (key.empty() || key.back() != '\\') key += '\\';
  key += name_;
  const bool machineRoot = SameText(keyPath.substr(0, slash), "HKEY_LOCAL_MACHINE");
  comdev::SettingsValues values;
  for (const GroupWriter& writer : kGroupWriters) {
    if (storedGroups_.contains(writer.group)) writer.store(values, *this);
  }
  if (const QString why = comdev::WriteSettings(machineRoot, QString::fromStdString(key), values);
      !why.isEmpty())
    throw EComPort(ceStoreFailed, -1, why.toStdString());
}

// --- Texts ------------------------------------------------------------------

const std::vector<std::string>& BaudRateTexts() {
  static const std::vector<std::string> texts{
      "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
      "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
  return texts;
}
const std::vector<std::string>& DataBitsTexts() {
  static const std::vector<std::string> texts{"5", "6", "7", "8"};
  return texts;
}
const std::vector<std::string>& StopBitsTexts() {
  static const std::vector<std::string> texts{"1", "1.5", "2"};
  return texts;
}
const std::vector<std::string>& ParityTexts() {
  static const std::vector<std::string> texts{"None", "Odd", "Even", "Mark", "Space"};
  return texts;
}
const std::vector<std::string>& FlowControlTexts() {
  static const std::vector<std::string> texts{"Hardware", "Software", "None", "Custom"};
  return texts;
}
const std::vector<std::string>& DTRTexts() {
  static const std::vector<std::string> texts{"Disable", "Enable", "Handshake"};
  return texts;
}
const std::vector<std::string>& RTSTexts() {
  static const std::vector<std::string> texts{"Disable", "Enable", "Handshake", "Toggle"};
  return texts;
}
const std::vector<std::string>& BoolTexts() {
  static const std::vector<std::string> texts{"Yes", "No"};
  return texts;
}

int BaudRateBits(TBaudRate value) {
  static constexpr int kBits[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                  14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return kBits[value];
}

void OpenAdapterLine(TComPort& port, const std::string& name) {
  port.ClosePort();
  port.SetPort(name);
  port.SetEvents({});
  port.FlowControl().SetControlDTR(dtrEnable);
  port.FlowControl().SetControlRTS(rtsEnable);
  port.OpenPort();
}

std::string BaudRateToStr(TBaudRate value) { return BaudRateTexts()[value]; }
TBaudRate StrToBaudRate(const std::string& text) { return FromText(BaudRateTexts(), text, br9600); }
std::string DataBitsToStr(TDataBits value) { return DataBitsTexts()[value]; }
TDataBits StrToDataBits(const std::string& text) {
  return FromText(DataBitsTexts(), text, dbEight);
}
std::string StopBitsToStr(TStopBits value) { return StopBitsTexts()[value]; }
TStopBits StrToStopBits(const std::string& text) {
  return FromText(StopBitsTexts(), text, sbOneStopBit);
}
std::string ParityToStr(TParityBits value) { return ParityTexts()[value]; }
TParityBits StrToParity(const std::string& text) { return FromText(ParityTexts(), text, prNone); }
std::string FlowControlToStr(TFlowControl value) { return FlowControlTexts()[value]; }
TFlowControl StrToFlowControl(const std::string& text) {
  return FromText(FlowControlTexts(), text, fcCustom);
}
std::string DTRToStr(TDTRFlowControl value) { return DTRTexts()[value]; }
TDTRFlowControl StrToDTR(const std::string& text) { return FromText(DTRTexts(), text, dtrDisable); }
std::string RTSToStr(TRTSFlowControl value) { return RTSTexts()[value]; }
TRTSFlowControl StrToRTS(const std::string& text) { return FromText(RTSTexts(), text, rtsDisable); }
std::string BoolToStr(bool value) { return value ? "Yes" : "No"; }
bool StrToBool(const std::string& text) { return SameText(text, "Yes"); }

std::string CharToStr(std::uint8_t value) {
  if (value >= 33 && value <= 127) return std::string(1, static_cast<char>(value));
  // Appended, not "#" + text: GCC 12 takes the inlined insert for an overlap
  // (-Wrestrict) at -O3 and for Windows.
  std::string text(1, '#');
  text += std::to_string(value);
  return text;
}

std::uint8_t StrToChar(const std::string& text) {
  if (text.size() == 1) return static_cast<std::uint8_t>(text[0]);
  unsigned value = 0;
  if (text.size() < 2 || text[0] != '#') return 0;
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data() + 1, end, value);
  return error == std::errc() && next == end && value <= 255 ? static_cast<std::uint8_t>(value) : 0;
}

std::vector<std::string> EnumComPorts() {
  std::vector<std::string> ports;
  if (int error = comdev::ListSystemPorts(ports)) throw EComPort(ceRegistryError, error);
  return ports;
}

std::vector<ComPortInfo> EnumComPortsDescribed() {
  std::vector<ComPortInfo> ports;
  if (int error = comdev::DescribeSystemPorts(ports)) throw EComPort(ceRegistryError, error);
  return ports;
}

namespace comdev {

void SortPortNames(std::vector<std::string>& ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
  });
}

std::string JoinDescription(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += part;
  }
  return joined;
}

}  // namespace comdev
