#include "Exceptions.h"

#include <QtGlobal>

namespace calvoro {

Exception::Exception(QString message) : FMessage(std::move(message)), FWhat(FMessage.toUtf8()) {}

void Abort() { throw EAbort(); }

void InternalError(const char* unit, const QString& what) {
    throw EAssertionFailed(QStringLiteral("Assertion failure (%1): %2").arg(QLatin1String(unit), what));
}

TExceptionDisplay& ApplicationExceptionDisplay() {
    static TExceptionDisplay display;
    return display;
}

void ShowApplicationException(const std::exception& e) {
    if (dynamic_cast<const EAbort*>(&e)) return;
    if (const TExceptionDisplay& display = ApplicationExceptionDisplay()) display(e);
    else qWarning("%s", e.what());
}

}  // namespace calvoro
