#pragma once
// The adapter's sixteen two-register parameters: their table, the texts and
// bytes the tool keeps of them, the image it writes and the check of the
// bytes it reads back.

#include "modbus/exchange_state.h"
#include "modbus/register_map.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <map>

inline constexpr int kParamCount = 16;
inline constexpr int kFloatParamCount = 12;  // parameters 1..12
inline constexpr int kSerialNumberParam = 13;
inline constexpr int kStampParam = 14;        // the date of the last write
inline constexpr int kAddressCopyParam = 15;  // the adapter's address, kept with the others
inline constexpr int kChecksumParam = 16;     // FF 00 and the CRC of the image
// The bounds: per channel the values at 20 mA and at 4 mA, in the order of the
// bounds window's boxes and of tmp.dat.
inline constexpr std::array<int, 6> kBoundParams = {1, 2, 5, 6, 9, 10};

enum class ParamKind { Float, SerialNumber, Stamp, Address, Checksum };

struct ParamInfo {
  ParamKind kind;
  double offset;  // the device keeps the shown value plus this
  int decimals;   // places a float is shown with
};

// Parameter 1..16; other indices throw std::out_of_range.
const ParamInfo& ParamInfoOf(int index);
bool IsFloatParam(int index);

// Where the parameter's four bytes sit in ParamImage and ParamRaw
// (4 * index); throws std::out_of_range when they would not fit.
int ParamByteOffset(int index);

// A float parameter as the windows show it: its device value less the
// offset, fixed with its decimals. ParamTableText is the same with 4 decimals,
// the form kept in ParamText.
QString ParamShownText(int index, double deviceValue);
QString ParamTableText(int index, double deviceValue);

struct ParamData {
  static constexpr int kImageSize = 101;

  std::array<QString, 31> ParamText;             // entries 1..12: latest text of each float
  std::array<uint8_t, kImageSize> ParamImage{};  // what a write sends
  std::array<uint8_t, kImageSize> ParamRaw{};    // what the reads got back
  int32_t ReadFailed = 0;  // 1 silences ChecksumVerify after a failed read-all
};

// What a window hands to the image build.
struct ImageTexts {
  std::map<int, QString> FloatFields;  // float parameter -> its field's text; the
                                       // others are taken from ParamText as they are
  QString SerialNumber;
  QString Address;
  QDateTime Moment;  // local date and time for the write-date stamp
};

// Builds ParamImage from the texts: field texts go into ParamText first, the
// twelve floats (5 and 6 plus 100), the serial number, the stamp, the address
// byte, FF 00 and the CRC over offsets 1..65 (computed in TxFrame). False,
// at once, when a text does not convert. A float too large for the device
// throws EFloatOverflow.
bool BuildParamImage(const ImageTexts& texts, ParamData& params, ExchangeState& exchange);

// After a read of all parameters: unless ReadFailed, recomputes the CRC of
// ParamRaw 1..65 (in TxFrame); false when offsets 66/67 do not hold it.
bool ChecksumVerify(const ParamData& params, ExchangeState& exchange);
