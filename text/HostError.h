#pragma once

#include <QString>
#include <stdexcept>

namespace kestrove {

// A failure of the observatory host or of the file layer. It names the call, the path or object
// it concerned, and the reason, so that the message shown to the observer says what went wrong where.
class HostError : public std::runtime_error
{
public:
    HostError(const QString& call, const QString& subject, const QString& reason);

    const QString& call() const { return m_call; }
    const QString& subject() const { return m_subject; }
    const QString& reason() const { return m_reason; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    QString m_call;
    QString m_subject;
    QString m_reason;
};

} // namespace kestrove
