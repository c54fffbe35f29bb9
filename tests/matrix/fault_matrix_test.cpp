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
#include "serial/comport.h"
#include "tests/support/password_answer.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "ui/boxes.h"
#include "ui/tool_texts.h"
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

#include <array>
#include <cerrno>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

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

constexpr Exchange kExchanges[] = {Exchange::Search,           Exchange::AddressWrite,
                                   Exchange::BoundsOnOpening,  Exchange::BoundsOnRequest,
                                   Exchange::BoundsWrite,      Exchange::CalibrationRead,
                                   Exchange::CalibrationWrite, Exchange::PassThrough};

const char* NameOf(Exchange e) {
  switch (e) {
    case Exchange::Search:
      return "address search";
    case Exchange::AddressWrite:
      return "address write";
    case Exchange::BoundsOnOpening:
      return "bounds read on opening";
    case Exchange::BoundsOnRequest:
      return "bounds read on request";
    case Exchange::BoundsWrite:
      return "bounds write";
    case Exchange::CalibrationRead:
      return "calibration read";
    case Exchange::CalibrationWrite:
      return "calibration write";
    case Exchange::PassThrough:
      return "pass-through";
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
    case Exchange::Search:
      return milliseconds(247 * 125);
    case Exchange::AddressWrite:
    case Exchange::PassThrough:
      return milliseconds(1000);
    default:
      return milliseconds(34 * 180);
  }
}

struct Fault {
  const char* name;
  const char* rule = nullptr;  // as the simulator's --fault takes it, before the filters
  std::optional<LineLoss> loss;
  bool busyPort = false;
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
    case Exchange::CalibrationRead:
      return {",fn=3,reg=265", 6};
    case Exchange::BoundsWrite:  // the address register, then parameters 1..5
    case Exchange::CalibrationWrite:
      return {",fn=16,reg=265", 6};
    case Exchange::PassThrough:
      return {",first=1", 1};  // the read after it goes unspoilt
    default:
      return {"", 1};
  }
}

// An answer fault cannot touch a broadcast: nobody answers it.
bool Applicable(const Fault& f, Exchange e) { return !(e == Exchange::AddressWrite && f.rule); }

// The parameters a write sets, without the date stamp and the checksum
// (the stamp is the moment of the write).
using Image = std::array<std::array<std::uint8_t, 4>, 13>;

Image ImageOf(const tl8test::SimState& state) {
  Image image{};
  for (int i = 1; i <= 13; ++i) image[i - 1] = state.param(i);
  return image;
}

struct Outcome {
  std::vector<QString> shown;  // message boxes, and the search's verdict line
  Duration took{};
  int requests = 0;                 // frames written
  int afterFailure = 0;             // frames written after the first failure was shown
  std::optional<QString> nextRead;  // after a write or a switch: what a read then shows
  bool checksumMatches = true;
  std::optional<int> adapterAt;       // after an address write
  Image imageBefore{}, imageAfter{};  // after a write
};

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
      real_ = std::make_unique<Session>(realPort_);
      holder_.SetPort(pty_.SlavePath());
      holder_.OpenPort();
      realPort_.SetPort(pty_.SlavePath());
      try {
        realPort_.OpenPort();
      } catch (const EComPort&) {
        busyRefused_ = true;  // as the start-up's box reports it
      }
    }
#endif
    if (fault.rule) sim_.Restart({.faults = {fault.rule + TargetIn(exchange).filter}});
    Session& s = session();
    s.Exchange().DeviceAddress = 1;
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
    return clean.Run().imageAfter;
  }

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
      for (int i = 1; i <= 12; ++i) session().Params().ParamText[i] = QStringLiteral("4.0000");
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
    out.imageBefore = ImageOf(before);
    out.imageAfter = ImageOf(now);
    tl8test::SimLinkSetup sound;
    sound.adapters = {sim_.link().memory(1)};
    sim_.Restart(sound);
    out.nextRead = ReadNow();
  }

  // What the calibration window's read at address 1 shows now.
  QString ReadNow() {
    boxes_.Clear();
    session().Exchange().DeviceAddress = 1;
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
  TComPort realPort_;  // the tool's, on the busy port
  std::unique_ptr<Session> real_;
  bool busyRefused_ = false;
  std::unique_ptr<TPaswKoefForm> password_;
  std::unique_ptr<TNetAddrF> address_;
  std::unique_ptr<TKoefForPotreb> bounds_;
  std::unique_ptr<TTehForm> calibration_;
  std::optional<int> failedAt_;
};

// The expected outcome of each cell, as the user sees it: the boxes' texts
// (and the search's verdict line) joined by " / "; where the exchange
// changes the adapter, then where it answers or what a read then shows.
const QString kNotApplicable = QStringLiteral("n/a");

QString Then(const QString& shown, const QString& nextRead) {
  return shown + QStringLiteral("; next read: ") + nextRead;
}

struct Row {
  Fault fault;
  std::array<QString, std::size(kExchanges)> expected;  // in the order of kExchanges
};

// An answer spoilt at the parameter in the middle (or at the one request):
// a read gives up on it, a write stops there and leaves the checksum to
// tell, the search passes over what its acceptance rule refuses, and the
// pass-through command counts as refused although the adapter may have
// switched (the next read's probe then gets only its own bytes back, which
// is no answer).
Row AnswerFault(const char* name, const char* rule, const QString& search, const QString& write,
                const QString& passThrough) {
  const QString failed = QStringLiteral("Сбой!");
  return {{name, rule, std::nullopt, false},
          {search, kNotApplicable, failed, failed, write, failed, write, passThrough}};
}

// The line fails under the exchange: the port's error in the standard report.
Row LineFault(const char* name, std::optional<LineLoss> loss, bool busy,
              const std::array<QString, std::size(kExchanges)>& expected) {
  return {{name, nullptr, loss, busy}, expected};
}

const std::vector<Row>& Rows() {
  const QString nobody = QStringLiteral("Нет ответа от адаптера");
  const QString found = QStringLiteral("found 001");
  const QString stopped = Then(QStringLiteral("Нет ответа"), QStringLiteral("Ошибка ЦИК массива"));
  const QString failed = QStringLiteral("Сбой!");
  const QString searching = QStringLiteral(" / Подождите секунд ..  20 ");
  const auto port = [](const char* what, int code) {
    return QStringLiteral("%1 function failed (win error code: %2)").arg(what).arg(code);
  };
  const QString lostRead = port("ClearCommError", EIO);
  const QString lostWait =
      QStringLiteral("WaitForEvent method failed (win error code: %1)").arg(EIO);
  const QString lostWrite = port("WriteFile", EIO);
  const QString closedWrite = port("WriteFile", EBADF);
  const QString checksum = QStringLiteral("Ошибка ЦИК массива");
  const QString switched = Then(NoAdapterText(1), NoAdapterText(1));
  static const std::vector<Row> rows = {
      AnswerFault("silent", "silent", nobody, stopped, switched),
      // The late answer of parameter 5 lands in its retry's collection, the
      // retry's in parameter 6's: every write took effect and counts as such.
      AnswerFault("late", "late:200", nobody, Then("no message", "reads clean"), switched),
      AnswerFault("noise", "noise", nobody, stopped, switched),
      AnswerFault("bad CRC", "badcrc", nobody, stopped, switched),
      AnswerFault("truncated", "truncate", nobody, stopped, switched),
      // A CRC-correct answer from the address is enough for the search.
      AnswerFault("short", "short", found, stopped, switched),
      AnswerFault("exception", "exception:4", found, stopped,
                  Then(NoAdapterText(1), QStringLiteral("reads clean"))),
      AnswerFault("oversize", "oversize", nobody, stopped, switched),
      // Two copies of the pass-through command are what an echoing line and
      // one adapter give, so the tool counts it done; the adapter did switch.
      AnswerFault("second adapter answering", "twin", nobody, stopped,
                  Then(kPassThroughDoneText, NoAdapterText(1))),
      // The handler ends where the port failed; the search's window keeps its
      // waiting line. The broadcast went out before the line went.
      LineFault("line gone mid-read", LineLoss::InRead, false,
                {lostWait + searching, lostWait + "; adapter at 33", lostRead, lostRead,
                 Then(lostRead, checksum), lostRead, Then(lostRead, checksum), lostWait}),
      LineFault("line gone mid-write", LineLoss::InWrite, false,
                {lostWrite + searching, lostWrite + "; adapter at 1", lostWrite, lostWrite,
                 Then(lostWrite, checksum), lostWrite, Then(lostWrite, checksum), lostWrite}),
      LineFault("port busy at start", std::nullopt, true,
                {closedWrite + searching, closedWrite, closedWrite, closedWrite, closedWrite,
                 closedWrite, closedWrite, closedWrite}),
  };
  return rows;
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

  for (const Row& row : Rows()) {
    const Fault& fault = row.fault;
#ifdef _WIN32
    if (fault.busyPort) continue;  // the pseudo-terminal stands in for the other program's port
#endif
    table << "| " << fault.name << " |";
    for (size_t column = 0; column < std::size(kExchanges); ++column) {
      const Exchange e = kExchanges[column];
      SCOPED_TRACE(std::string(fault.name) + " x " + NameOf(e));
      if (!Applicable(fault, e)) {
        EXPECT_EQ(row.expected[column].toStdString(), kNotApplicable.toStdString());
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
      EXPECT_EQ(summary.toStdString(), row.expected[column].toStdString());
      // Within its bound, and nothing more after a failure.
      EXPECT_LE(o.took, BoundOf(e));
      EXPECT_EQ(o.afterFailure, 0) << "frames sent after the failure was shown";
      if (fault.busyPort) {
        EXPECT_EQ(o.requests, 0) << "bytes on a port that never opened";
      }
      // A write leaves what the next read explains: a good checksum only on
      // the old image or the one meant, never on a mix.
      if (Writes(e) && !fault.busyPort) {
        EXPECT_EQ(o.checksumMatches, o.nextRead == QStringLiteral("reads clean"))
            << o.nextRead.value_or("").toStdString();
        if (o.checksumMatches) {
          EXPECT_TRUE(o.imageAfter == o.imageBefore || o.imageAfter == intended[e])
              << "a mixed image reads as good";
        }
      }
    }
    table << '\n';
  }
  std::cout << table.str();
}

}  // namespace
