#include "host/ChainScript.h"

#include "text/HostError.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>

namespace kestrove {

namespace {

struct Statement
{
    int line;
    QString text;
};

// The line without its ' comment; a ' inside a string literal is text.
QString withoutComment(const QString& line)
{
    bool inString = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'"')
            inString = !inString;
        else if (line[i] == u'\'' && !inString)
            return line.left(i);
    }
    return line;
}

QString unquote(const QString& literal)
{
    return literal.mid(1, literal.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
}

QRegularExpression pattern(const char* text)
{
    return QRegularExpression(QString::fromLatin1(text), QRegularExpression::CaseInsensitiveOption);
}

#define VB_STRING R"(("(?:[^"]|"")*"))"

} // namespace

ChainEffect parseChainScript(const QString& scriptPath, const QByteArray& content)
{
    const QString call = QStringLiteral("chain script");
    QList<Statement> statements;
    const QStringList lines = QString::fromLatin1(content).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = withoutComment(lines[i]).trimmed();
        if (!text.isEmpty())
            statements.append({static_cast<int>(i + 1), text});
    }

    qsizetype next = 0;
    const auto expect = [&](const QRegularExpression& re, const char* what) {
        if (next == statements.size())
            throw HostError(call, scriptPath,
                            QStringLiteral("ends where %1 was expected").arg(QLatin1String(what)));
        const Statement& s = statements[next];
        const QRegularExpressionMatch m = re.match(s.text);
        if (!m.hasMatch())
            throw HostError(call, scriptPath,
                            QStringLiteral("line %1: expected %2, found \"%3\"")
                                .arg(s.line)
                                .arg(QLatin1String(what), s.text));
        ++next;
        return m;
    };
    const auto sameName = [&](const QString& a, const QString& b, const char* what) {
        if (a.compare(b, Qt::CaseInsensitive) != 0)
            throw HostError(call, scriptPath,
                            QStringLiteral("line %1: %2 \"%3\" is not \"%4\"")
                                .arg(statements[next - 1].line)
                                .arg(QLatin1String(what), a, b));
    };

    // Compiled once: a night runs hundreds of plans.
    static const QRegularExpression subMain = pattern(R"(^sub\s+main\s*(\(\s*\))?$)");
    static const QRegularExpression createObject =
        pattern(R"(^set\s+(\w+)\s*=\s*createobject\s*\(\s*"scripting\.filesystemobject"\s*\)$)");
    static const QRegularExpression openTextFile =
        pattern(R"(^set\s+(\w+)\s*=\s*(\w+)\s*\.\s*opentextfile\s*\(\s*)" VB_STRING
                R"(\s*,\s*8\s*,\s*true\s*\)$)");
    static const QRegularExpression write =
        pattern(R"(^(\w+)\s*\.\s*write\s*(?:\(\s*)" VB_STRING R"(\s*\)|\s+)" VB_STRING R"()$)");
    static const QRegularExpression close = pattern(R"(^(\w+)\s*\.\s*close(\s*\(\s*\))?$)");
    static const QRegularExpression endSub = pattern(R"(^end\s+sub$)");

    expect(subMain, "sub main()");
    const QString fso = expect(createObject, "Set ... = CreateObject(\"Scripting.FileSystemObject\")").captured(1);
    const QRegularExpressionMatch open = expect(openTextFile, "Set ... = ....OpenTextFile(\"path\", 8, True)");
    sameName(open.captured(2), fso, "object");
    const QString file = open.captured(1);

    ChainEffect effect;
    effect.path = unquote(open.captured(3));
    int writes = 0;
    while (next < statements.size() && write.match(statements[next].text).hasMatch()) {
        const QRegularExpressionMatch m = expect(write, "....Write(\"text\")");
        sameName(m.captured(1), file, "object");
        effect.text += unquote(m.captured(2).isEmpty() ? m.captured(3) : m.captured(2));
        ++writes;
    }
    if (writes == 0)
        expect(write, "....Write(\"text\")");
    sameName(expect(close, "....Close").captured(1), file, "object");
    expect(endSub, "end sub");
    if (next != statements.size())
        throw HostError(call, scriptPath,
                        QStringLiteral("line %1: nothing may follow \"end sub\"").arg(statements[next].line));
    if (effect.path.isEmpty())
        throw HostError(call, scriptPath, QStringLiteral("OpenTextFile names no file"));
    return effect;
}

void applyChainEffect(const ChainEffect& effect)
{
    QFile file(effect.path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw HostError(QStringLiteral("OpenTextFile"), effect.path, file.errorString());
    const QByteArray bytes = effect.text.toLatin1();
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw HostError(QStringLiteral("Write"), effect.path, file.errorString());
}

ChainEffect runChainScriptFile(const QString& scriptPath)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::ReadOnly))
        throw HostError(QStringLiteral("chain script"), scriptPath, file.errorString());
    const ChainEffect effect = parseChainScript(scriptPath, file.readAll());
    applyChainEffect(effect);
    return effect;
}

} // namespace kestrove
