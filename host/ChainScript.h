#pragma once

#include <QByteArray>
#include <QString>

namespace kestrove {

// What a chain script does: append text to a file, creating it when missing.
struct ChainEffect
{
    QString path;
    QString text;
};

// Reads the small VBScript subset of a completion chain script: a `sub main` that creates a
// "Scripting.FileSystemObject", opens one file with OpenTextFile(path, 8, True), writes text to it and
// closes it. Keywords are case-insensitive; ' comments and blank lines are ignored. Anything else
// throws HostError naming the script and its line, before any effect.
ChainEffect parseChainScript(const QString& scriptPath, const QByteArray& content);

// Appends the text (single-byte, no line end); throws HostError when the file cannot be written.
void applyChainEffect(const ChainEffect& effect);

// Reads, checks and carries out the chain script at `scriptPath`; throws HostError when it cannot.
ChainEffect runChainScriptFile(const QString& scriptPath);

} // namespace kestrove
