#include "Exceptions.h"

namespace calvoro {

Exception::Exception(QString message) : FMessage(std::move(message)), FWhat(FMessage.toUtf8()) {}

void Abort() { throw EAbort(); }

}  // namespace calvoro
