#pragma once
// Exceptions shared by every layer above the protocol client.

#include <QString>
#include <QByteArray>
#include <exception>

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

// Raises EAbort.
[[noreturn]] void Abort();

}  // namespace calvoro
