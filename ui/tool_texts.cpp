#include "ui/tool_texts.h"

namespace {

QString NetPortOpenFailureText(const QString& port, const TNetOpenFailure& failure) {
  const QString detail = QString::fromStdString(failure.detail);
  switch (failure.kind) {
    case TNetOpenFailure::Refused:
      return QStringLiteral(
                 "Сервер %1 отказал в соединении:\rпо этому адресу порт не "
                 "принимает подключений.\rПроверьте адрес и номер порта.")
          .arg(port);
    case TNetOpenFailure::NoSuchHost:
      return QStringLiteral(
                 "Сервер %1 не найден:\rтакого имени узла нет в сети.\rПроверьте "
                 "имя сервера.")
          .arg(port);
    case TNetOpenFailure::NoAnswer:
      return QStringLiteral(
                 "Сервер %1 не ответил вовремя.\rПроверьте, включён ли он и "
                 "доступен ли по сети.")
          .arg(port);
    case TNetOpenFailure::ServerText:
      return QStringLiteral("Сервер %1 закрыл соединение с сообщением:\r%2").arg(port, detail);
    case TNetOpenFailure::SettingsRefused:
      return QStringLiteral("Сервер %1 не принял настройки порта\r(%2).").arg(port, detail);
    case TNetOpenFailure::BadName:
      return QStringLiteral("Имя сетевого порта %1 неверно\r(%2).").arg(port, detail);
    case TNetOpenFailure::Other:
      break;
  }
  return QStringLiteral("Не удалось открыть сетевой порт %1:\r%2").arg(port, detail);
}

}  // namespace

QString PortOpenFailureText(const std::string& port,
                            const std::optional<TNetOpenFailure>& network) {
  const QString name = QString::fromStdString(port);
  if (network) return NetPortOpenFailureText(name, *network);
  return QStringLiteral("Вероятно, выполняется другая программа,\rоткрывшая порт ") + name +
         QStringLiteral(". Закройте программу,\rзахватившую порт, или укажите другой порт.");
}
