#pragma once
// The panel a service window shows while it reads or writes the adapter: what
// it is doing and how far it has got through the sixteen parameters. It keeps
// its place in the window while hidden, so the window does not jump.

#include <QFrame>

class QLabel;
class QProgressBar;

class ProgressPanel : public QFrame {
 public:
  explicit ProgressPanel(QWidget* parent);

  QLabel* Status;
  QProgressBar* Bar;  // 0..100

  // Shows the panel with the operation's text and the bar at 0.
  void Start(const QString& operation);
  // The bar at the whole part of done / 16 * 100.
  void ShowParametersDone(int done);
};
