// The address window against simulated adapters in virtual time: the search
// over every address, the broadcast address write, the field check of the new address
// and the rule for the main window's work menu.

#include "windows/netaddrf.h"

#include "modbus/session.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "ui/tool_texts.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <chrono>
#include <memory>
#include <stdexcept>

namespace {

using tl8test::Frame;
using tl8test::FramesOf;
using Names = std::vector<std::string>;

const QString kNoAnswer = QStringLiteral("Нет ответа от адаптера");
const QString kWaiting = QStringLiteral("Подождите секунд ..  20 ");

class AddressWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TNetAddrF>(session);
    QObject::connect(window.get(), &TNetAddrF::WorkMenuVisible, &workMenu, &QAction::setVisible);
    workMenu.setVisible(false);
  }

  void StartSimulator(const std::vector<std::string>& args) {
    sim.Restart(tl8test::SimulatorSetup(args));
  }

  Names VisibleControls() const {
    const TNetAddrF& w = *window;
    const std::pair<const char*, QWidget*> controls[] = {
        {"Label1", w.Label1},         {"ReceivAddrCaption", w.ReceivAddrCaption},
        {"ReceivAddr", w.ReceivAddr}, {"LabInput", w.LabInput},
        {"MaskEdit1", w.MaskEdit1},   {"BtWritA", w.BtWritA},
        {"BtClose", w.BtClose},       {"BtFindA", w.BtFindA}};
    Names names;
    for (const auto& [name, control] : controls)
      if (control->isVisible()) names.push_back(name);
    return names;
  }

  QString Field() const { return window->MaskEdit1->displayText(); }

  QApplication& app = TestApp();  // before any widget or action
  ScriptedBoxes boxes;
  tl8test::SimSession sim;
  Session& session = sim.session;
  QAction workMenu;
  std::unique_ptr<TNetAddrF> window;
};

const Names kAfterFound = {"ReceivAddrCaption", "ReceivAddr", "LabInput",
                           "MaskEdit1",         "BtWritA",    "BtClose"};
const Names kAfterNobody = {"Label1", "LabInput", "MaskEdit1", "BtWritA", "BtClose"};

TEST_F(AddressWindow, ShowsOnlyTheVerdictLineAndTheFieldCaptionAsCreated) {
  window->show();
  EXPECT_EQ(VisibleControls(), (Names{"Label1", "LabInput"}));
  EXPECT_EQ(window->Label1->text(), kNoAnswer);
  EXPECT_EQ(Field(), QStringLiteral("2  "));
}

// --- the search -------------------------------------------------------------

struct SearchCase {
  const char* name;
  std::vector<std::string> simulator;
  int found;
  const char* shown;
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

class SearchFinds : public AddressWindow, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchFinds, TheFirstAddressWithAWellFormedAnswer) {
  const SearchCase& c = GetParam();
  StartSimulator(c.simulator);
  session.Exchange().DeviceAddress = 200;

  window->TaskManager();

  EXPECT_EQ(session.Exchange().DeviceAddress, c.found);
  EXPECT_EQ(window->ReceivAddr->text(), QString::fromLatin1(c.shown));
  EXPECT_EQ(Field().trimmed(), QString::number(c.found));
  EXPECT_EQ(VisibleControls(), kAfterFound);
  EXPECT_EQ(window->focusWidget(), window->MaskEdit1);
  EXPECT_TRUE(workMenu.isVisible());
  EXPECT_TRUE(boxes.Shown().empty());

  const auto frames = FramesOf(sim.Received());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), (Frame{0x01, 0x03, 0x01, 0x01, 0x00, 0x02, 0x94, 0x37}));
  for (const Frame& frame : frames) EXPECT_LE(frame.at(0), c.found) << "polled past the answer";
  EXPECT_EQ(frames.back().at(0), c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, SearchFinds,
    ::testing::Values(
        SearchCase{"AloneAt1", {"--address", "1"}, 1, "001"},
        SearchCase{"LowerOfTwo", {"--address", "30", "--adapter", "17"}, 17, "017"},
        SearchCase{
            "ExceptionAnswerWithCorrectCrc", {"--address", "3", "--fault", "exception"}, 3, "003"},
        SearchCase{"PassingOverABadCrc",
                   {"--address", "2", "--adapter", "4", "--fault", "badcrc,addr=2"},
                   4,
                   "004"},
        // Its answer lands in a later address's collection, under the wrong first byte.
        SearchCase{"PassingOverALateAnswer",
                   {"--address", "1", "--adapter", "9", "--fault", "late,addr=1"},
                   9,
                   "009"},
        SearchCase{"AtTheLastAddress", {"--address", "247"}, 247, "247"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddressWindow, FindingNobodyFallsBackToAddress1AndTheWriteStillGoesOut) {
  // The only adapter answers at the last address, but with a spoilt CRC.
  StartSimulator({"--address", "247", "--fault", "badcrc,addr=247"});
  session.Exchange().DeviceAddress = 200;
  workMenu.setVisible(true);
  std::vector<bool> menuVisibility;
  QObject::connect(&workMenu, &QAction::visibleChanged,
                   [&] { menuVisibility.push_back(workMenu.isVisible()); });
  Names duringSearch;
  QString textDuringSearch;
  bool buttonsEnabledDuringSearch = true;
  sim.clock.At(std::chrono::seconds(1), [&] {
    duringSearch = VisibleControls();
    textDuringSearch = window->Label1->text();
    buttonsEnabledDuringSearch = window->BtWritA->isEnabled() || window->BtFindA->isEnabled();
  });

  window->TaskManager();

  EXPECT_EQ(duringSearch, Names{"Label1"});
  EXPECT_EQ(textDuringSearch, kWaiting);
  EXPECT_FALSE(buttonsEnabledDuringSearch);
  EXPECT_EQ(session.Exchange().DeviceAddress, 1);
  EXPECT_EQ(VisibleControls(), kAfterNobody);
  EXPECT_EQ(window->Label1->text(), kNoAnswer);
  EXPECT_EQ(Field(), QStringLiteral("1  "));
  EXPECT_EQ(window->focusWidget(), window->MaskEdit1);
  EXPECT_TRUE(window->BtWritA->isEnabled());
  // Hidden by the search that found nobody, shown again by the menu command.
  EXPECT_EQ(menuVisibility, (std::vector<bool>{false, true}));
  EXPECT_EQ(FramesOf(sim.Received()).back().at(0), 247);

  window->MaskEdit1->setText(QStringLiteral("5"));
  window->BtWritA->click();
  EXPECT_EQ(FramesOf(sim.Received()).back(),
            (Frame{0x00, 0x06, 0x01, 0x77, 0x00, 0x05, 0xF9, 0xFE}));
  window->BtFindA->click();
  EXPECT_EQ(window->ReceivAddr->text(), QStringLiteral("005"));
  EXPECT_EQ(session.Exchange().DeviceAddress, 5);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST(ThreeDigitText, PadsWithLeadingZeros) {
  const std::pair<int, const char*> cases[] = {{1, "001"},  {9, "009"},   {10, "010"},
                                               {99, "099"}, {100, "100"}, {247, "247"}};
  for (const auto& [address, text] : cases)
    EXPECT_EQ(ThreeDigitText(address), QString::fromLatin1(text));
}

// --- the address write --------------------------------------------------------

TEST_F(AddressWindow, WriteBroadcastsTheNewAddressAndTheAdapterAnswersThere) {
  StartSimulator({"--address", "1"});
  window->TaskManager();
  ASSERT_EQ(session.Exchange().DeviceAddress, 1);

  window->MaskEdit1->setText(QStringLiteral("33"));
  window->BtWritA->click();

  EXPECT_EQ(FramesOf(sim.Received()).back(),
            (Frame{0x00, 0x06, 0x01, 0x77, 0x00, 0x21, 0xF9, 0xE5}));
  EXPECT_NO_THROW(sim.link().memory(33));
  EXPECT_THROW(sim.link().memory(1), std::out_of_range);
  EXPECT_EQ(session.Exchange().DeviceAddress, 33);
  EXPECT_TRUE(window->ReceivAddr->text().isEmpty());
  Names afterWrite = kAfterFound;
  afterWrite.push_back("BtFindA");
  EXPECT_EQ(VisibleControls(), afterWrite);
  EXPECT_EQ(window->focusWidget(), window->BtFindA);

  window->BtFindA->click();
  EXPECT_EQ(window->ReceivAddr->text(), QStringLiteral("033"));
  EXPECT_EQ(session.Exchange().DeviceAddress, 33);
  EXPECT_TRUE(boxes.Shown().empty());
}

// Through a Modbus TCP gateway the broadcast is confirmed with a read at the
// new address; a gateway that drops broadcasts leaves the adapter where it
// was, and the window says the change could not be confirmed through it.
TEST_F(AddressWindow, ThroughAGatewayTheWriteIsConfirmedOrSaysItCouldNotBe) {
  for (const bool passes : {true, false}) {
    SCOPED_TRACE(passes ? "the gateway passes broadcasts" : "the gateway drops them");
    tl8test::SimLinkSetup setup = tl8test::SimulatorSetup({"--address", "1"});
    setup.gateway = sim::GatewaySetup{.passesBroadcasts = passes};
    sim.Restart(setup);
    boxes.Clear();
    window->TaskManager();
    ASSERT_EQ(session.Exchange().DeviceAddress, 1);
    window->MaskEdit1->setText(QStringLiteral("33"));
    window->BtWritA->click();
    EXPECT_EQ(sim.link().memory(passes ? 33 : 1).address, passes ? 33 : 1);
    if (passes) {
      EXPECT_TRUE(boxes.Shown().empty());
    } else {
      ASSERT_EQ(boxes.Shown().size(), 1u);
      EXPECT_EQ(boxes.Shown()[0].text, GatewayUnconfirmedText(33));
    }
  }
}

TEST_F(AddressWindow, WriteRefusesWhatNoSearchCouldFindAgainAndSendsNothing) {
  window->show();
  window->BtWritA->show();
  const struct {
    const char* field;
    const char* message;
    BoxIcon icon;
  } cases[] = {
      {"0", "Адрес должен быть от 1 до 247", BoxIcon::None},
      {"248", "Адрес должен быть от 1 до 247", BoxIcon::None},
      {"", "'' is not a valid integer value.", BoxIcon::Error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    session.Exchange().DeviceAddress = 9;
    boxes.Clear();
    window->MaskEdit1->setText(QString::fromLatin1(c.field));
    window->BtWritA->click();
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, QString::fromUtf8(c.message));
    EXPECT_EQ(boxes.Shown()[0].icon, c.icon);
    EXPECT_TRUE(sim.NothingReceived());
    EXPECT_EQ(session.Exchange().DeviceAddress, 9);
  }
}

TEST_F(AddressWindow, SearchAndWriteWaitWhileAnotherExchangeRuns) {
  ExchangeGate::Scope other(session.Gate());
  EXPECT_FALSE(window->BtWritA->isEnabled());
  EXPECT_FALSE(window->BtFindA->isEnabled());
  window->MaskEdit1->setText(QStringLiteral("5"));
  window->BtWritAClick();
  window->BtFindAClick();
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_EQ(session.Exchange().DeviceAddress, 0);
  EXPECT_TRUE(boxes.Shown().empty());
}

// --- the field check ------------------------------------------------------------

void Press(QWidget* target, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

// Digits, "\r" for Enter and ">" for the cursor key to the right.
void Type(QWidget* target, const char* keys) {
  for (const char* k = keys; *k; ++k) {
    if (*k == '\r')
      Press(target, Qt::Key_Return, QStringLiteral("\r"));
    else if (*k == '>')
      Press(target, Qt::Key_Right, QString());
    else
      Press(target, Qt::Key_0 + (*k - '0'), QString(QChar::fromLatin1(*k)));
  }
}

TEST_F(AddressWindow, FieldCheckJudgesTheContentBeforeEachKey) {
  window->show();
  window->MaskEdit1->show();
  window->BtWritA->show();
  QWidget* const field = window->MaskEdit1;
  QWidget* const write = window->BtWritA;
  const struct {
    const char* keys;
    const char* field;
    QWidget* focus;
  } cases[] = {
      {"248\r", "", field},                            // Enter sees 248: cleared, the focus stays
      {"05", "5", field},                              // the 0 is gone before the 5 goes in
      {"12\r", "12", write},                           // a good value: on to the write button
      {"247\r", "247", write}, {"248", "248", field},  // completed by the last key: not judged yet
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    window->MaskEdit1->clear();
    window->MaskEdit1->setFocus();
    Type(window->MaskEdit1, c.keys);
    EXPECT_EQ(Field().trimmed(), QString::fromLatin1(c.field));
    EXPECT_EQ(window->focusWidget(), c.focus);
  }
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(AddressWindow, FieldCheckReportsDigitsWithAGapAndLeavesThem) {
  window->show();
  window->MaskEdit1->show();
  window->MaskEdit1->clear();
  window->MaskEdit1->setFocus();
  Type(window->MaskEdit1, "1>2\r");
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("'1 2' is not a valid integer value."));
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_EQ(Field(), QStringLiteral("1 2"));
  EXPECT_EQ(window->focusWidget(), window->MaskEdit1);
}

// The field's Enter moves the focus to "Записать адр" so that a second Enter
// writes the address.
TEST_F(AddressWindow, EnterInTheFieldThenEnterOnTheButtonWrites) {
  StartSimulator({"--address", "1"});
  window->TaskManager();
  ASSERT_EQ(session.Exchange().DeviceAddress, 1);
  const Frame broadcast{0x00, 0x06, 0x01, 0x77, 0x00, 0x21, 0xF9, 0xE5};

  window->MaskEdit1->clear();
  window->MaskEdit1->setFocus();
  Type(window->MaskEdit1, "33\r");
  ASSERT_EQ(window->focusWidget(), window->BtWritA);
  EXPECT_NE(FramesOf(sim.Received()).back(), broadcast) << "the first Enter only moves the focus";

  Type(window->focusWidget(), "\r");
  EXPECT_EQ(FramesOf(sim.Received()).back(), broadcast);
  EXPECT_NO_THROW(sim.link().memory(33));
  EXPECT_THROW(sim.link().memory(1), std::out_of_range);
  EXPECT_EQ(session.Exchange().DeviceAddress, 33);
  EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
