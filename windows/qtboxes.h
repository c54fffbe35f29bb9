#pragma once
// The tool's boxes on the screen: Qt message boxes and file dialogs.

#include "ui/boxes.h"

class QtBoxes final : public Boxes {
 public:
  void Message(const QString& text, BoxIcon icon, std::optional<QPoint> pos,
               const QString& caption) override;
  BoxAnswer Question(const QString& text, std::optional<QPoint> pos) override;
  std::optional<QString> SaveFileName(const QString& proposedName, const QString& filter,
                                      const QString& defaultSuffix) override;
  std::optional<QString> OpenFileName(const QString& filter) override;
  int Exec(QDialog& dialog) override;
};
