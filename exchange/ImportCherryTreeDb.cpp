#include "exchange/Import.h"

namespace qv::exchange {

ImportedTree parseCherryTreeDb(const std::string &) { throw EImportError(W("не поддерживается")); }

} // namespace qv::exchange
