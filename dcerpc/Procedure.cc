#include "dcerpc/Procedure.h"

namespace Korvane::Pictora::DceRpc {

const std::string& Arguments::Text(size_t i) const {
  static const std::string empty;
  const Value& v = At(i);
  return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : empty;
}

const Bytes& Arguments::Data(size_t i) const {
  static const Bytes empty;
  const Value& v = At(i);
  return std::holds_alternative<Bytes>(v) ? std::get<Bytes>(v) : empty;
}

}  // namespace Korvane::Pictora::DceRpc
