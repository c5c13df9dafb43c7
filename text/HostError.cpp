#include "text/HostError.h"

namespace kestrove {

namespace {
std::string describe(const QString& call, const QString& subject, const QString& reason)
{
    QString text = call;
    if (!subject.isEmpty())
        text += QStringLiteral(" \"%1\"").arg(subject);
    text += QStringLiteral(": ") + reason;
    return text.toStdString();
}
} // namespace

HostError::HostError(const QString& call, const QString& subject, const QString& reason)
    : std::runtime_error(describe(call, subject, reason)), m_call(call), m_subject(subject), m_reason(reason)
{
}

} // namespace kestrove
