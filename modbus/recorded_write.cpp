#include "modbus/recorded_write.h"

#include "modbus/device_float.h"
#include "modbus/history.h"
#include "modbus/params.h"
#include "modbus/session.h"
#include "modbus/stamp.h"

#include <exception>

namespace {

constexpr int kImageWriteSteps = 1 + kParamCount;  // the address register, then the parameters

// The image as a read of it would show it, at the address it gives.
AdapterReading ImageReading(const ParamData& params, int32_t address) {
  const auto& image = params.ParamImage;
  const auto bytesOf = [&image](int index) { return image.begin() + ParamByteOffset(index); };
  AdapterReading reading;
  reading.answeringAddress = address;
  reading.storedAddress = image[ParamByteOffset(kAddressCopyParam) + 1];
  for (int i = 1; i <= kFloatParamCount; ++i) {
    const auto b = bytesOf(i);
    reading.shown[i - 1] = ParamShownText(i, DeviceFloatToDouble(b[0], b[1], b[2], b[3]));
  }
  const auto serial = bytesOf(kSerialNumberParam);
  reading.serialNumber = static_cast<int32_t>(serial[0] | serial[1] << 8 | serial[2] << 16 |
                                              static_cast<uint32_t>(serial[3]) << 24);
  const auto stamp = bytesOf(kStampParam);
  reading.writeDate = StampToText(stamp[0], stamp[1], stamp[2], stamp[3]);
  return reading;
}

QString TextOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  } catch (...) {
    return QStringLiteral("?");
  }
}

// An entry for a change of the adapter the session talks to, up to the
// outcome: the values before are the session's, the serial number the one
// it had (else the one sent).
ChangeEntry NewEntry(const Session& s, const WriteRecordSetup& setup, int32_t newAddress,
                     std::optional<AdapterReading> after, int steps) {
  ChangeEntry entry;
  const QDateTime now = QDateTime::currentDateTime();
  entry.time = now.toOffsetFromUtc(now.offsetFromUtc());
  entry.user = s.History() ? s.History()->User() : QString();
  entry.frontEnd = setup.frontEnd;
  entry.port = s.PortName();
  entry.addressBefore = s.DeviceAddress();
  entry.addressAfter = newAddress;
  if (const AdapterReading* before = s.LastReading(s.DeviceAddress())) entry.before = *before;
  entry.after = std::move(after);
  if (entry.before)
    entry.serial = entry.before->serialNumber;
  else if (entry.after)
    entry.serial = entry.after->serialNumber;
  entry.steps = steps;
  return entry;
}

// An entry on the disk while its operation runs; completes it once.
class Record {
 public:
  // Writes the entry unless the session keeps no history; `refusal` says why
  // it could not.
  Record(Session& s, ChangeEntry entry, QString& refusal)
      : history_(s.History()), entry_(std::move(entry)) {
    if (history_) refusal = history_->Append(entry_);
  }

  const QString& Id() const { return entry_.id; }

  QString Written() { return Complete(ChangeOutcome::Written, 0, {}); }
  QString Failed(int step, const QString& message) {
    return Complete(ChangeOutcome::Failed, step, message);
  }
  QString Complete(ChangeOutcome outcome, int step, const QString& message) {
    if (!history_) return {};
    entry_.outcome = outcome;
    entry_.failedStep = step;
    entry_.message = message;
    return history_->Complete(entry_);
  }

 private:
  ChangeHistory* history_;
  ChangeEntry entry_;
};

}  // namespace

RecordedWriteOutcome WriteImageRecorded(Session& s, const WriteRecordSetup& setup,
                                        int32_t newAddress, const WriteProgress& progress) {
  RecordedWriteOutcome outcome;
  const AdapterReading sent = ImageReading(s.Params(), newAddress);
  const uint8_t from = s.DeviceAddress();
  Record record(s, NewEntry(s, setup, newAddress, sent, kImageWriteSteps), outcome.refusal);
  if (!outcome.refusal.isEmpty()) return outcome;
  outcome.entryId = record.Id();

  int done = 0;  // steps acknowledged
  try {
    outcome.write = WriteImage(s, newAddress,
                               {[&] {
                                  done = 1;
                                  if (progress.addressTaken) progress.addressTaken();
                                },
                                [&](int index) {
                                  done = 1 + index;
                                  if (progress.written) progress.written(index);
                                }});
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    if (done >= 1) s.MoveReading(from, static_cast<uint8_t>(newAddress));
    record.Failed(done + 1, TextOf(failure));
    std::rethrow_exception(failure);
  }
  if (outcome.write.result == WriteResult::Written) {
    s.KeepReading(static_cast<uint8_t>(newAddress), sent);
    outcome.completionError = record.Written();
    return outcome;
  }
  // The adapter keeps what it had where the write did not reach; what is
  // known of it follows it to the address it took.
  if (outcome.write.result == WriteResult::ParameterNotAcknowledged)
    s.MoveReading(from, static_cast<uint8_t>(newAddress));
  const int step = outcome.write.result == WriteResult::AddressNotAcknowledged
                       ? 1
                       : 1 + outcome.write.failedParameter;
  outcome.completionError = record.Failed(step, setup.noAnswerText);
  return outcome;
}

RecordedAddressOutcome BroadcastNewAddressRecorded(Session& s, const WriteRecordSetup& setup,
                                                   int32_t address, bool confirm) {
  RecordedAddressOutcome outcome;
  const uint8_t from = s.DeviceAddress();
  // The broadcast changes the address register alone: the values stay.
  std::optional<AdapterReading> after;
  if (const AdapterReading* before = s.LastReading(from)) {
    after = *before;
    after->answeringAddress = address;
  }
  Record record(s, NewEntry(s, setup, address, after, confirm ? 2 : 1), outcome.refusal);
  if (!outcome.refusal.isEmpty()) return outcome;
  outcome.entryId = record.Id();

  int done = 0;
  try {
    BroadcastNewAddress(s, address);
    s.MoveReading(from, static_cast<uint8_t>(address));
    done = 1;
    if (confirm)
      outcome.confirmed = FindAdapterAddress(
                              s, [] {}, address, address) == address;
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    record.Failed(done + 1, TextOf(failure));
    std::rethrow_exception(failure);
  }
  outcome.completionError =
      !confirm || outcome.confirmed ? record.Written() : record.Failed(2, setup.noAnswerText);
  return outcome;
}

QString RecordChecksumMismatch(Session& s, const WriteRecordSetup& setup, int32_t newAddress,
                               const QString& message) {
  QString refusal;
  Record record(
      s, NewEntry(s, setup, newAddress, ImageReading(s.Params(), newAddress), kImageWriteSteps),
      refusal);
  if (!refusal.isEmpty()) return refusal;
  return record.Complete(ChangeOutcome::ChecksumMismatch, 0, message);
}
