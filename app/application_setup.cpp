#include "app/application_setup.h"

#include "app/tl8form.h"
#include "os/platform.h"
#include "portdialog/comcombobox.h"
#include "portdialog/veskcomsetupfrm.h"
#include "ui/boxes.h"
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

// The port named on the command line, taken as the port dialog takes it.
QString StartPortOrError(const QString& given, QString& error) {
  const QString name = PortNameOfShownLine(given);
  if (name.isEmpty())
    error = QStringLiteral("После --port нужно имя порта.");
  else if (const std::optional<QString> refusal = PortNameRefusal(name))
    error = *refusal;
  return name;
}

}  // namespace

const QString kStartUsage = QStringLiteral(
    "Запуск: Tl8v05 [--port ИМЯ]\n"
    "  --port ИМЯ  порт, который открывается после вопроса о перемычке (без него COM1):\n"
    "              любое имя, которое принимает «Настройка порта», также\n"
    "              tcp://ХОСТ:ПОРТ и rfc2217://ХОСТ:ПОРТ\n"
    "  --help      эта справка\n");

StartOptions ParseStartOptions(const QStringList& arguments) {
  StartOptions options{kStartPortName, false, {}};
  const QString portOption = QStringLiteral("--port");
  for (qsizetype i = 0; i < arguments.size() && options.error.isEmpty(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h")) {
      options.help = true;
    } else if (argument.startsWith(portOption + '=')) {
      options.port = StartPortOrError(argument.mid(portOption.size() + 1), options.error);
    } else if (argument == portOption) {
      options.port =
          StartPortOrError(i + 1 < arguments.size() ? arguments[++i] : QString(), options.error);
    } else {
      options.error = QStringLiteral("Неизвестный параметр «%1».").arg(argument);
    }
  }
  if (!options.error.isEmpty()) options.error += QStringLiteral("\rЗапуск: Tl8v05 [--port ИМЯ]");
  return options;
}

std::optional<int> EndBeforeStart(const StartOptions& options) {
  if (!options.error.isEmpty()) {
    boxes().Message(options.error, BoxIcon::Error);
    return 2;
  }
  if (options.help) {
    // Whole in a Windows console too, whatever its code page.
    WriteStd(StdStream::Output, kStartUsage);
    return 0;
  }
  return std::nullopt;
}

bool PrepareApplication(QApplication& application) {
  QApplication::setWindowIcon(QIcon(kToolIconPath));
  UseAFontThatShowsRussian();
  return InstallQtTranslation(application);
}
