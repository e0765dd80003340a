#include "langue.h"

#include <unordered_map>

namespace {

const std::unordered_map<int, const char *> &Table() {
  static const std::unordered_map<int, const char *> table = {
#define LANGUE(number, name, text) {number, text},
#include "langue.def"
#undef LANGUE
  };
  return table;
}

}  // namespace

QString Langue(LangueId id) {
  const auto &table = Table();
  const auto it = table.find(id);
  return it == table.end() ? QString() : QString::fromUtf8(it->second);
}
