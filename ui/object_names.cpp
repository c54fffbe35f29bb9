#include "ui/object_names.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <stdexcept>

void NameAfterMembers(const char* names, std::initializer_list<QObject*> objects) {
  const QStringList split = QString::fromLatin1(names).split(',');
  if (split.size() != static_cast<qsizetype>(objects.size()))
    throw std::logic_error("NameAfterMembers: names and objects differ in number");
  auto name = split.begin();
  for (QObject* object : objects) object->setObjectName((name++)->trimmed());
}
