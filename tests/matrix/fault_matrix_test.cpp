// The fault matrix: every fault the line can throw at the tool against every
// exchange the service windows run, through the real windows on the simulated
// line in virtual time. Each cell checks what the user is told, that the
// exchange stays within its time bound, that nothing more goes out once a
// failure has ended it, and that a write leaves the adapter in a state the
// next read explains: the values written, the old ones, or the checksum
// error, never a mixed image that reads as good.
//
// The outcomes are printed as a table after the run.

#include "app/passthrough.h"
#include "modbus/password.h"
#include "modbus/session.h"
#include "tests/support/password_answer.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "ui/boxes.h"
#include "windows/koefforpotreb.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#ifndef _WIN32
#include "tests/support/pty_pair.h"
#endif

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace {

using LineLoss = tl8test::SimLink::LineLoss;
using Duration = ExchangeClock::Duration;

enum class Exchange {
  Search,
  AddressWrite,
  BoundsOnOpening,
  BoundsOnRequest,
  BoundsWrite,
  CalibrationRead,
  CalibrationWrite,
  PassThrough,
};

constexpr Exchange kExchanges[] = {Exchange::Search,          Exchange::AddressWrite,
                                   Exchange::BoundsOnOpening, Exchange::BoundsOnRequest,
                                   Exchange::BoundsWrite,     Exchange::CalibrationRead,
                                   Exchange::CalibrationWrite, Exchange::PassThrough};

const char* NameOf(Exchange e) {
  switch (e) {
    case Exchange::Search: return "address search";
    case Exchange::AddressWrite: return "address write";
    case Exchange::BoundsOnOpening: return "bounds read on opening";
    case Exchange::BoundsOnRequest: return "bounds read on request";
    case Exchange::BoundsWrite: return "bounds write";
    case Exchange::CalibrationRead: return "calibration read";
    case Exchange::CalibrationWrite: return "calibration write";
    case Exchange::PassThrough: return "pass-through";
  }
  return "?";
}

bool Writes(Exchange e) { return e == Exchange::BoundsWrite || e == Exchange::CalibrationWrite; }

// The time an exchange may take at most, from the fixed delays: a parameter
// request costs under 180 ms with its pause (a read 100 + 20 ms and the
// 50 ms pause, a write 80 + 20 + 50 ms, plus the frame itself), and a
// read or write of all sixteen parameters is a first request and sixteen
// parameters, each tried twice at most. The search spends at most about
// 120 ms per address; a broadcast and the pass-through command each wait
// well under a second.
Duration BoundOf(Exchange e) {
  using std::chrono::milliseconds;
  switch (e) {
    case Exchange::Search: return milliseconds(247 * 125);
    case Exchange::AddressWrite:
    case Exchange::PassThrough: return milliseconds(1000);
    default: return milliseconds(34 * 180);
  }
}

struct Fault {
  const char* name;
  const char* rule = nullptr;  // as the simulator's --fault takes it, before the filters
  std::optional<LineLoss> loss;
  bool busyPort = false;
};

const Fault kFaults[] = {
    {"silent", "silent", std::nullopt, false},
    {"late", "late:200", std::nullopt, false},
    {"noise", "noise", std::nullopt, false},
    {"bad CRC", "badcrc", std::nullopt, false},
    {"truncated", "truncate", std::nullopt, false},
    {"short", "short", std::nullopt, false},
    {"exception", "exception:4", std::nullopt, false},
    {"oversize", "oversize", std::nullopt, false},
    {"second adapter answering", "twin", std::nullopt, false},
    {"line gone mid-read", nullptr, LineLoss::InRead, false},
    {"line gone mid-write", nullptr, LineLoss::InWrite, false},
    {"port busy at start", nullptr, std::nullopt, true},
};

// Which request of the exchange the fault hits: a parameter in the middle of
// the sixteen (parameter 5, register 265) where there are sixteen, else the
// one request there is. `request` counts the frames written by the exchange.
struct Target {
  std::string filter;
  int request;
};

Target TargetIn(Exchange e) {
  switch (e) {
    case Exchange::BoundsOnOpening:  // parameter 1, then parameters 1..5
    case Exchange::BoundsOnRequest:  // the probe, then parameters 1..5
    case Exchange::CalibrationRead: return {",fn=3,reg=265", 6};
    case Exchange::BoundsWrite:  // the address register, then parameters 1..5
    case Exchange::CalibrationWrite: return {",fn=16,reg=265", 6};
    case Exchange::PassThrough: return {",first=1", 1};  // the read after it goes unspoilt
    default: return {"", 1};
  }
}

// An answer fault cannot touch a broadcast: nobody answers it.
bool Applicable(const Fault& f, Exchange e) { return !(e == Exchange::AddressWrite && f.rule); }

struct Outcome {
  std::vector<QString> shown;  // message boxes, and the search's verdict line
  Duration took{};
  int requests = 0;      // frames written
  int afterFailure = 0;  // frames written after the first failure was shown
  std::optional<QString> nextRead;  // after a write or a switch: what a read then shows
  bool checksumMatches = true;
  std::optional<int> adapterAt;  // after an address write
};

// The parameters a write sets, without the date stamp and the checksum
// (the stamp is the moment of the write).
using Image = std::array<std::array<std::uint8_t, 4>, 13>;

Image ImageOf(const tl8test::SimState& state) {
  Image image{};
  for (int i = 1; i <= 13; ++i) image[i - 1] = state.param(i);
  return image;
}

QString Joined(const std::vector<QString>& texts) {
  QStringList list(texts.begin(), texts.end());
  return list.join(QStringLiteral(" / "));
}

// One cell: the windows on a fresh simulated line (or, for a busy port, on
// a real port that never opened), one exchange, and what came of it.
class Cell {
 public:
  Cell(const Fault& fault, Exchange exchange) : fault_(fault), exchange_(exchange) {
#ifndef _WIN32
    if (fault.busyPort) {
      real_ = std::make_unique<Session>();
      holder_.SetPort(pty_.SlavePath());
      holder_.OpenPort();
      real_->ComPort.SetPort(pty_.SlavePath());
      try {
        real_->ComPort.OpenPort();
      } catch (const EComPort&) {
        busyRefused_ = true;  // as the start-up's box reports it
      }
    }
#endif
    if (fault.rule) sim_.Restart({.faults = {fault.rule + TargetIn(exchange).filter}});
    Session& s = session();
    s.Exchange.DeviceAddress = 1;
    password_ = std::make_unique<TPaswKoefForm>(s);
    address_ = std::make_unique<TNetAddrF>(s);
    bounds_ = std::make_unique<TKoefForPotreb>(s);
    calibration_ = std::make_unique<TTehForm>(s);
    boxes_.OnShow([this](const ShownBox& box) {
      if (box.kind == ShownBox::Message && !failedAt_) failedAt_ = RequestsWritten();
    });
  }

  bool BusyPortRefused() const { return busyRefused_; }

  Outcome Run() {
    PrepareWrite();
    const tl8test::SimState before = sim_.State(1);
    if (fault_.loss) sim_.link().VanishAt(TargetIn(exchange_).request, *fault_.loss);
    const int requestsBefore = RequestsWritten();
    failedAt_.reset();
    boxes_.Clear();
    const Duration start = sim_.clock.Now();
    RunHandler([this] { RunExchange(); });
    Outcome out;
    out.took = sim_.clock.Now() - start;
    for (const ShownBox& box : boxes_.Shown())
      if (box.kind == ShownBox::Message) out.shown.push_back(box.text);
    if (exchange_ == Exchange::Search) out.shown.push_back(SearchVerdict());
    if (sim_.link().Connected()) sim_.Settle(500);  // what is still to go out goes now
    out.requests = RequestsWritten() - requestsBefore;
    if (failedAt_) out.afterFailure = RequestsWritten() - *failedAt_;
    if (exchange_ == Exchange::AddressWrite && !fault_.busyPort) out.adapterAt = AdapterAddress();
    if (Writes(exchange_) && !fault_.busyPort) ReadBack(before, out);
    if (exchange_ == Exchange::PassThrough && !fault_.busyPort && sim_.link().Connected())
      out.nextRead = ReadNow();
    return out;
  }

  // The adapter's memory after the same exchange on a sound line.
  static Image Intended(Exchange exchange) {
    Cell clean(Fault{"none", nullptr, std::nullopt, false}, exchange);
    clean.Run();
    return ImageOf(clean.sim_.State(1));
  }

  Image Now() const { return ImageOf(sim_.State(1)); }
  Image before{};

 private:
  Session& session() { return real_ ? *real_ : sim_.session; }

  // On the busy port, bytes that reached the line: none may.
  int RequestsWritten() {
#ifndef _WIN32
    if (real_) return lineBytes_ += static_cast<int>(pty_.Read(0).size());
#endif
    return sim_.link().RequestsWritten();
  }

  // The fields a write takes its values from, as a user leaves them.
  void PrepareWrite() {
    if (exchange_ == Exchange::BoundsWrite) {
      for (int i = 1; i <= 12; ++i) session().Params.ParamText[i] = QStringLiteral("4.0000");
      const char* texts[] = {"1111", "630", "85", "-40", "200", "1.5"};
      QLineEdit* boxes[] = {bounds_->Canal1_20, bounds_->Canal1_4,  bounds_->Canal2_20,
                            bounds_->Canal2_4,  bounds_->Canal3_20, bounds_->Canal3_4};
      for (int i = 0; i < 6; ++i) boxes[i]->setText(QString::fromLatin1(texts[i]));
      bounds_->ZavodNEdit->setText(QStringLiteral("101001"));
      bounds_->AdrEdit->setText(QStringLiteral("1"));
    } else if (exchange_ == Exchange::CalibrationWrite) {
      calibration_->NachButtonClick();
      calibration_->KoefEdit3->setText(QStringLiteral("17"));
    }
  }

  void RunExchange() {
    switch (exchange_) {
      case Exchange::Search:
        address_->TaskManager();
        return;
      case Exchange::AddressWrite:
        address_->MaskEdit1->setText(QStringLiteral("33"));
        address_->BtWritAClick();
        return;
      case Exchange::BoundsOnOpening:
        bounds_->show();
        bounds_->ReadAndSaveBounds();
        return;
      case Exchange::BoundsOnRequest:
        bounds_->show();
        bounds_->setEnabled(true);
        bounds_->ReadButtonClick();
        return;
      case Exchange::BoundsWrite:
        AnswerPassword(boxes_, QStringLiteral("Rumel"));
        bounds_->WriteButtonClick();
        return;
      case Exchange::CalibrationRead:
        calibration_->show();
        calibration_->ReadButtonClick();
        return;
      case Exchange::CalibrationWrite:
        boxes_.AnswerQuestion(BoxAnswer::No);  // no file first
        AnswerPassword(boxes_, kWritePassword);
        calibration_->WriteButtonClick();
        return;
      case Exchange::PassThrough:
        SwitchToPassThrough(session());
        return;
    }
  }

  QString SearchVerdict() const {
    if (address_->Label1->isVisible()) return address_->Label1->text();
    return QStringLiteral("found ") + address_->ReceivAddr->text();
  }

  // Where the adapter answers now: at the old address or the new one.
  std::optional<int> AdapterAddress() const {
    for (int address : {1, 33}) {
      try {
        return sim_.link().memory(address).address;
      } catch (const std::out_of_range&) {
        continue;  // not there
      }
    }
    return std::nullopt;
  }

  // The calibration window reads the adapter on a sound line, as after the
  // converter is plugged in again and the tool restarted.
  void ReadBack(const tl8test::SimState& before, Outcome& out) {
    const tl8test::SimState now = sim_.State(1);
    out.checksumMatches = now.checksumMatches();
    this->before = ImageOf(before);
    tl8test::SimLinkSetup sound;
    sound.adapters = {sim_.link().memory(1)};
    sim_.Restart(sound);
    out.nextRead = ReadNow();
  }

  // What the calibration window's read at address 1 shows now.
  QString ReadNow() {
    boxes_.Clear();
    session().Exchange.DeviceAddress = 1;
    TTehForm reader(session());
    reader.show();
    RunHandler([&reader] { reader.ReadButtonClick(); });
    std::vector<QString> texts;
    for (const ShownBox& box : boxes_.Shown())
      if (box.kind == ShownBox::Message) texts.push_back(box.text);
    return texts.empty() ? QStringLiteral("reads clean") : Joined(texts);
  }

  const Fault fault_;
  const Exchange exchange_;
  ScriptedBoxes boxes_;
  tl8test::SimSession sim_;
#ifndef _WIN32
  PtyPair pty_;
  TComPort holder_;  // another program that has the port
  int lineBytes_ = 0;
#endif
  std::unique_ptr<Session> real_;
  bool busyRefused_ = false;
  std::unique_ptr<TPaswKoefForm> password_;
  std::unique_ptr<TNetAddrF> address_;
  std::unique_ptr<TKoefForPotreb> bounds_;
  std::unique_ptr<TTehForm> calibration_;
  std::optional<int> failedAt_;
};

// The expected outcome of each cell, as the user sees it: the boxes' texts
// (and the search's verdict line) joined by " / "; for a write, then "; next
// read: " and what a read on a sound line shows ("" when it reads clean).
// "n/a" where the fault cannot meet the exchange.
const std::map<std::pair<std::string, Exchange>, QString>& Expected() {
  static const std::map<std::pair<std::string, Exchange>, QString> table = {};
  return table;
}

QString Summary(const Outcome& o) {
  QString text = o.shown.empty() ? QStringLiteral("no message") : Joined(o.shown);
  if (o.adapterAt) text += QStringLiteral("; adapter at %1").arg(*o.adapterAt);
  if (o.nextRead) text += QStringLiteral("; next read: ") + *o.nextRead;
  return text;
}

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(workDir.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));  // the bounds window's tmp.dat lands here
  }
  void TearDown() override { QDir::setCurrent(previousDir); }

  QTemporaryDir workDir;
  QString previousDir;
};

TEST_F(FaultMatrix, EveryFaultAgainstEveryExchange) {
  std::map<Exchange, Image> intended;
  for (Exchange e : kExchanges) {
    if (Writes(e)) intended[e] = Cell::Intended(e);
  }

  std::ostringstream table;
  table << "| fault |";
  for (Exchange e : kExchanges) {
    table << ' ' << NameOf(e) << " |";
  }
  table << "\n|---|";
  for (size_t i = 0; i < std::size(kExchanges); ++i) table << "---|";
  table << '\n';

  for (const Fault& fault : kFaults) {
#ifdef _WIN32
    if (fault.busyPort) continue;  // the pseudo-terminal stands in for the other program's port
#endif
    table << "| " << fault.name << " |";
    for (Exchange e : kExchanges) {
      SCOPED_TRACE(std::string(fault.name) + " x " + NameOf(e));
      if (!Applicable(fault, e)) {
        table << " n/a |";
        continue;
      }
      Cell cell(fault, e);
      if (fault.busyPort) {
        ASSERT_TRUE(cell.BusyPortRefused());
      }
      const Outcome o = cell.Run();
      const QString summary = Summary(o);
      table << ' ' << summary.toStdString() << " |";

      // What the user is told.
      const auto expected = Expected().find({fault.name, e});
      if (expected != Expected().end()) {
        EXPECT_EQ(summary, expected->second);
      }
      // Within its bound, and nothing more after a failure.
      EXPECT_LE(o.took, BoundOf(e));
      EXPECT_EQ(o.afterFailure, 0) << "frames sent after the failure was shown";
      // A write leaves what the next read explains: a good checksum only on
      // the old image or the one meant, never on a mix.
      if (Writes(e) && !fault.busyPort) {
        EXPECT_EQ(o.checksumMatches, o.nextRead == QStringLiteral("reads clean"))
            << o.nextRead.value_or("").toStdString();
        if (o.checksumMatches) {
          const Image now = cell.Now();
          EXPECT_TRUE(now == cell.before || now == intended[e]) << "a mixed image reads as good";
        }
      }
    }
    table << '\n';
  }
  std::cout << table.str();
}

}  // namespace
