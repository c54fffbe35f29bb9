#include "app/application_setup.h"

#include "windows/fonts.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Where Qt's Russian translation (qtbase_ru.qm) is looked for: beside the
// program first, where the Windows zip and installer put it, then in Qt's own
// translations directory (Debian's qt6-translations-l10n).
QStringList TranslationDirs() {
  return {QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
          QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

bool InstallQtTranslation(QApplication& application) {
  auto* translator = new QTranslator(&application);
  for (const QString& dir : TranslationDirs()) {
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), dir))
      return QCoreApplication::installTranslator(translator);
  }
  delete translator;
  return false;
}

// The system's font for windows, unless it is missing (see RussianFont).
void UseAFontThatShowsRussian() {
  const QFont font = RussianFont(QApplication::font(), FontPitch::Proportional);
  if (font != QApplication::font()) QApplication::setFont(font);
}

}  // namespace

bool PrepareApplication(QApplication& application) {
  QApplication::setWindowIcon(QIcon(kToolIconPath));
  UseAFontThatShowsRussian();
  return InstallQtTranslation(application);
}
