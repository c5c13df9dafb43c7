#include "app/CommandLine.h"

namespace kestrove {

std::optional<CommandLine> parseCommandLine(const QStringList& arguments, QString& error)
{
    error = QStringLiteral("not built yet");
    return std::nullopt;
}

} // namespace kestrove
