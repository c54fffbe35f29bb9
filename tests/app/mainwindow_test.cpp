// The main window's menu (captions, order, the rules that hide and disable
// items), the order in which the tool creates its windows, the Qt box layer
// as the user sees it, and the pass-through command on a closed port.
#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "modbus/exchange_gate.h"
#include "modbus/session.h"
#include "os/platform.h"
#include "portdialog/veskcomsetupfrm.h"
#include "serial/comport.h"
#include "tests/support/loopback.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "windows/koefforpotreb.h"
#include "windows/linemonitor.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/qtboxes.h"
#include "windows/tehform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace {

struct MenuEntry {
  QString caption;
  bool visible;
  bool enabled;
};

// The menu bar and its menus as the user sees them, top to bottom.
std::vector<MenuEntry> MenuEntries(QMainWindow& window) {
  std::vector<MenuEntry> entries;
  for (QAction* top : window.menuBar()->actions()) {
    entries.push_back({top->text(), top->isVisible(), top->isEnabled()});
    if (QMenu* menu = top->menu())
      for (QAction* item : menu->actions())
        entries.push_back(
            {QStringLiteral("  ") + item->text(), item->isVisible(), item->isEnabled()});
  }
  return entries;
}

std::vector<QString> Captions(const std::vector<MenuEntry>& entries) {
  std::vector<QString> captions;
  for (const MenuEntry& entry : entries) captions.push_back(entry.caption);
  return captions;
}

// The captions of the entries for which `pick` holds.
std::vector<QString> CaptionsWhere(QMainWindow& window,
                                   const std::function<bool(const MenuEntry&)>& pick) {
  std::vector<QString> captions;
  for (const MenuEntry& entry : MenuEntries(window))
    if (pick(entry)) captions.push_back(entry.caption);
  return captions;
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override { TestApp(); }

  // Starts the tool's windows; the jumper question is answered `answer` with
  // the port pointed at a name that cannot open, so nothing real is touched.
  void Start(BoxAnswer answer) {
    boxes.OnShow([this](const ShownBox& box) {
      if (box.kind == ShownBox::Question) port.SetPort(missingPort);
    });
    boxes.AnswerQuestion(answer);
    windows = std::make_unique<ToolWindows>(session, port);
    main = windows->Tl8Form();
    boxes.Clear();
  }

  QTemporaryDir dir;
  const std::string missingPort = dir.filePath(QStringLiteral("no-such-port")).toStdString();
  ScriptedBoxes boxes;
  TComPort port;
  Session session{port};
  std::unique_ptr<ToolWindows> windows;
  TTl8Form* main = nullptr;
};

TEST_F(MainWindow, MenuCaptionsOrderAndTheirHidingAndEnablingRules) {
  Start(BoxAnswer::Yes);
  const std::vector<QString> all = {QStringLiteral("Настройки"),
                                    QStringLiteral("  Настройка порта"),
                                    QStringLiteral("  Настройка адреса"),
                                    QStringLiteral("  Журнал изменений"),
                                    QStringLiteral("  Журнал обмена"),
                                    QStringLiteral("Режим работы"),
                                    QStringLiteral("  Изм.границ пар-ров"),
                                    QStringLiteral("  Доп.режим"),
                                    QStringLiteral("  Технолог.режим"),
                                    QStringLiteral("Выход")};
  EXPECT_EQ(Captions(MenuEntries(*main)), all);
  const auto hidden = [](const MenuEntry& e) { return !e.visible; };
  // Qt reports a hidden item as disabled too; only shown ones count here.
  const auto disabled = [](const MenuEntry& e) { return e.visible && !e.enabled; };
  EXPECT_EQ(CaptionsWhere(*main, hidden), std::vector<QString>{QStringLiteral("Режим работы")});
  EXPECT_TRUE(CaptionsWhere(*main, disabled).empty());

  main->N3->menuAction()->setVisible(true);  // as after an address search
  {
    // While an exchange runs, nothing may start another one or change the
    // port; watching the line and leaving the tool stay possible.
    ExchangeGate::Scope exchange(session.Gate());
    ASSERT_TRUE(exchange);
    EXPECT_EQ(CaptionsWhere(*main, disabled),
              (std::vector<QString>{
                  QStringLiteral("  Настройка порта"), QStringLiteral("  Настройка адреса"),
                  QStringLiteral("  Изм.границ пар-ров"), QStringLiteral("  Доп.режим"),
                  QStringLiteral("  Технолог.режим")}));
  }
  EXPECT_TRUE(CaptionsWhere(*main, disabled).empty());
}

TEST_F(MainWindow, AnythingButYesLeavesOnlyTheExit) {
  Start(BoxAnswer::Closed);
  const auto shown = [](const MenuEntry& e) { return e.visible && !e.caption.startsWith(' '); };
  EXPECT_EQ(CaptionsWhere(*main, shown), std::vector<QString>{QStringLiteral("Выход")});
}

// "Журнал обмена" opens the line monitor beside the other windows, without
// holding them up; it stays available while an exchange runs.
TEST_F(MainWindow, TheLastSettingsItemOpensTheModelessLineMonitor) {
  Start(BoxAnswer::Yes);
  TLineMonitor* monitor = windows->LineMonitor();
  ASSERT_NE(monitor, nullptr);
  EXPECT_FALSE(monitor->isVisible());
  ExchangeGate::Scope exchange(session.Gate());
  ASSERT_TRUE(exchange);
  main->N1->actions().last()->trigger();
  EXPECT_TRUE(monitor->isVisible());
  EXPECT_EQ(monitor->windowTitle(), QStringLiteral("Журнал обмена"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(main->isEnabled());
  EXPECT_TRUE(boxes.Shown().empty());
}

// What one window does for another goes through the signals wired up where
// the windows are made.
TEST_F(MainWindow, TheWindowsAreWiredToEachOther) {
  Start(BoxAnswer::Yes);
  ASSERT_FALSE(windows->KoefForPotreb()->isEnabled());
  emit windows->TehForm()->AdapterRead();
  EXPECT_TRUE(windows->KoefForPotreb()->isEnabled());
  for (bool visible : {true, false}) {
    emit windows->NetAddrF()->WorkMenuVisible(visible);
    EXPECT_EQ(main->N3->menuAction()->isVisible(), visible);
  }
}

// Records the tool's own windows in the order Qt polishes them, which is the
// order they were constructed in (each construction posts its polish request).
class WindowOrder final : public QObject {
 public:
  std::vector<QString> order;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::PolishRequest && object->isWidgetType() &&
        static_cast<QWidget*>(object)->isWindow()) {
      const QString name = QString::fromLatin1(object->metaObject()->className());
      if (name.startsWith('T') && std::find(order.begin(), order.end(), name) == order.end())
        order.push_back(name);
    }
    return false;
  }
};

TEST_F(MainWindow, WindowsAreCreatedInTheirFixedOrderAfterTheQuestion) {
  WindowOrder recorder;
  qApp->installEventFilter(&recorder);
  std::vector<QString> windowsWhileAsked;
  boxes.OnShow([&](const ShownBox& box) {
    if (box.kind != ShownBox::Question) return;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      const QString name = QString::fromLatin1(window->metaObject()->className());
      if (name.startsWith('T')) windowsWhileAsked.push_back(name);  // not the menus
    }
  });
  boxes.AnswerQuestion(BoxAnswer::No);
  windows = std::make_unique<ToolWindows>(session, port);
  QCoreApplication::processEvents();
  qApp->removeEventFilter(&recorder);

  EXPECT_EQ(windowsWhileAsked, std::vector<QString>{"TTl8Form"});
  EXPECT_EQ(recorder.order,
            (std::vector<QString>{"TTl8Form", "TVeskComSetupFrm", "TKoefForPotreb", "TPaswKoefForm",
                                  "TTehForm", "TNetAddrF", "TLineMonitor", "TChangeLogForm"}));
}

TEST_F(MainWindow, PassThroughOnAClosedPortEndsInTheErrorReportAndTheToolStays) {
  Start(BoxAnswer::Yes);
  ASSERT_FALSE(main->ComPort.Connected());
  main->N3->menuAction()->setVisible(true);
  main->N7->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_TRUE(boxes.Shown()[0].text.startsWith(
      QStringLiteral("WriteFile function failed (win error code: ")))
      << boxes.Shown()[0].text.toStdString();
  EXPECT_TRUE(main->isVisible());
  EXPECT_FALSE(session.Gate().Busy());
}

// Servers no device server would be, as the tool meets them: one whose
// Telnet subnegotiation never ends fails the opening, one that floods data
// fails the bounds window's read. Either is one box, and the tool stays.
TEST_F(MainWindow, AHostileServerEndsInOneFailureAndTheToolStays) {
  using tl8test::kLongWait;
  using tl8test::LoopSocket;
  const std::string chunk(4096, '\x5A');
  const auto flood = [&chunk](const LoopSocket& client) {
    while (client.Send(chunk)) {
    }
  };
  tl8test::ScriptedServer endless([&](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    client.Send(std::string("\xFF\xFA\x2C\x6B"));  // a subnegotiation that never ends
    flood(client);
  });
  tl8test::ScriptedServer floods([&](LoopSocket& listener) { flood(listener.Accept(kLongWait)); });
  const struct {
    std::string name;
    QString caption;
    QString ending;  // of the box's text
  } cases[] = {
      {endless.Name("rfc2217"), QStringLiteral("Неудача при открытии порта"),
       QStringLiteral("Не удалось открыть сетевой порт %1:\rSetCommState function failed (win "
                      "error code: %2): a Telnet subnegotiation longer than 512 bytes")
           .arg(QString::fromStdString(endless.Name("rfc2217")))
           .arg(comdev::kNetOverrun)},
      // Whichever receive meets the bound says so (the standard error report).
      {floods.Name("tcp"), ApplicationTitle(),
       QStringLiteral(" failed (win error code: %1): the server sends faster than any serial "
                      "line.")
           .arg(comdev::kNetOverrun)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The opening's failure box would come with the start.
    boxes.OnShow([&](const ShownBox& box) {
      if (box.kind == ShownBox::Question) port.SetPort(c.name);
    });
    boxes.Clear();
    boxes.AnswerQuestion(BoxAnswer::Yes);
    windows = std::make_unique<ToolWindows>(session, port);
    main = windows->Tl8Form();
    if (port.Connected()) main->N4->trigger();  // the bounds window reads the adapter
    ASSERT_EQ(boxes.Shown().size(), 2u) << "the question and one failure";
    EXPECT_EQ(boxes.Shown()[1].caption, c.caption);
    EXPECT_TRUE(boxes.Shown()[1].text.endsWith(c.ending)) << boxes.Shown()[1].text.toStdString();
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(session.Gate().Busy());
    EXPECT_TRUE(main->isVisible());
    windows.reset();
  }
}

// What the user sees of one box of the real Qt layer, read while it is open.
struct SeenBox {
  QString caption, text;
  QPoint pos;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  std::vector<QString> buttons;
};

// Reads the modal box as soon as it is open, then presses its button `press`.
SeenBox SeeAndPress(const std::function<void()>& show, QMessageBox::StandardButton press) {
  SeenBox seen;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = {box->windowTitle(), box->text(), box->pos(), box->icon(), {}};
    for (QAbstractButton* button : box->buttons()) seen.buttons.push_back(button->text());
    std::sort(seen.buttons.begin(), seen.buttons.end());
    box->button(press)->click();
  });
  show();
  return seen;
}

TEST(QtBoxLayer, MessageAndQuestionShowTheirCaptionTextButtonsAndPlace) {
  TestApp();
  QtBoxes qt;
  const SeenBox message = SeeAndPress(
      [&] {
        qt.Message(QStringLiteral("первая\rвторая"), BoxIcon::Error, QPoint(374, 390),
                   QStringLiteral("Неудача при открытии порта"));
      },
      QMessageBox::Ok);
  EXPECT_EQ(message.caption, QStringLiteral("Неудача при открытии порта"));
  EXPECT_EQ(message.text, QStringLiteral("первая\nвторая"));
  EXPECT_EQ(message.pos, QPoint(374, 390));
  EXPECT_EQ(message.icon, QMessageBox::Critical);
  EXPECT_EQ(message.buttons, std::vector<QString>{QStringLiteral("OK")});

  BoxAnswer answer = BoxAnswer::Closed;
  const SeenBox question =
      SeeAndPress([&] { answer = qt.Question(QStringLiteral("Продолжим ?"), QPoint(180, 250)); },
                  QMessageBox::Yes);
  EXPECT_EQ(question.caption, QStringLiteral("Tl8v05"));
  EXPECT_EQ(question.pos, QPoint(180, 250));
  EXPECT_EQ(question.icon, QMessageBox::NoIcon);
  EXPECT_EQ(question.buttons,
            (std::vector<QString>{QStringLiteral("&No"), QStringLiteral("&Yes")}));
  EXPECT_EQ(answer, BoxAnswer::Yes);
}

}  // namespace
