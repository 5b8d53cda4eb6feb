#pragma once

#include <QString>
#include <exception>

namespace p1 {

// Every error the program raises carries a French message meant for the operator: it is what
// the failure lines and the error dialogs show.
class Error : public std::exception {
public:
    explicit Error(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// A source .mdb that cannot be opened or read, a missing source table or column.
class SourceError : public Error {
public:
    using Error::Error;
};

// A source file that is damaged or cannot be read from the disk: no part of its import can be
// trusted, unlike a missing table or an odd value.
class SourceDamaged : public SourceError {
public:
    using SourceError::SourceError;
};

// The target engine refused a connection or a statement; the message is the engine's own text.
class TargetError : public Error {
public:
    using Error::Error;
};

// The message of any exception, as the operator should read it.
inline QString errorMessage(const std::exception& error)
{
    if (auto* own = dynamic_cast<const Error*>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

} // namespace p1
