#pragma once
// Exceptions shared by every layer above the protocol client.

#include <QString>
#include <QByteArray>
#include <exception>
#include <functional>

namespace calvoro {

// Base of the system's exceptions: a message in UTF-16, with what() as UTF-8.
class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FWhat.constData(); }

private:
    QString FMessage;
    QByteArray FWhat;
};

// The silent abort: it ends an operation and the GUI shows nothing for it.
class EAbort : public Exception {
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
};

// Base of all database errors (the data-access layer derives EDAError from it).
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// A value that cannot be converted to the requested type.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Internal invariant broken; the message names the source unit.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Raises EAssertionFailed "Assertion failure (unit): what". unit is the unit (the source
// file's name) whose invariant broke, so that a report points at the code to read.
[[noreturn]] void InternalError(const char* unit, const QString& what);

// Raises EAbort.
[[noreturn]] void Abort();

// The application's display of an error that has no caller to go to (a timer's handler, a
// script statement whose error is only to be shown). The program installs its error box here;
// without one the message goes to the log. A silent abort is never shown.
using TExceptionDisplay = std::function<void(const std::exception&)>;
TExceptionDisplay& ApplicationExceptionDisplay();
void ShowApplicationException(const std::exception& e);

}  // namespace calvoro
