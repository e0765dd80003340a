#include "Icones.h"

#include <map>

#include <QApplication>

QIcon SharedStandardIcon(QStyle::StandardPixmap which) {
  static std::map<QStyle::StandardPixmap, QIcon> icons;
  auto it = icons.find(which);
  if (it == icons.end()) it = icons.emplace(which, QApplication::style()->standardIcon(which)).first;
  return it->second;
}
