#include "host/PlanReader.h"

#include "host/HandOver.h"
#include "host/LocalFileSystem.h"
#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NumberText.h"

#include <QRegularExpression>

#include <cmath>

namespace kestrove {

QStringList readTextLines(const QString& path)
{
    LocalFileSystem fs;
    auto stream = fs.OpenTextFile(path, IOMode::ForReading);
    QStringList lines;
    while (!stream->AtEndOfStream())
        lines << stream->ReadLine();
    return lines;
}

AcquisitionPlan parsePlan(const QString& planPath, const QStringList& lines)
{
    AcquisitionPlan plan;
    int targets = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        const auto bad = [&](const QString& why) {
            return HostError(QStringLiteral("plan"), planPath,
                             QStringLiteral("line %1: %2").arg(i + 1).arg(why));
        };
        if (line.startsWith(u';')) {
            static const QRegularExpression set(QStringLiteral("^;\\s*set=(\\d{1,5})/(\\d{1,5})$"));
            if (const QRegularExpressionMatch match = set.match(line); match.hasMatch()) {
                plan.setImage = match.captured(1).toInt();
                plan.setSize = match.captured(2).toInt();
                continue;
            }
            static const QRegularExpression named(QStringLiteral("^;\\s*(comp|check)=(\\S+)$"));
            const QRegularExpressionMatch match = named.match(line);
            if (!match.hasMatch())
                continue;
            const std::optional<NamedStar> star = parseNamedStar(match.captured(2));
            if (!star)
                throw bad(QStringLiteral("%1 is not a place RA,DEC[,MAG[,LABEL]]").arg(match.captured(2)));
            if (match.captured(1) == QLatin1String("comp"))
                plan.comparisons.push_back(*star);
            else
                plan.check = star;
            continue;
        }
        if (line.isEmpty())
            continue;
        if (!line.startsWith(u'#')) {
            const QStringList fields = lines[i].split(u'\t');
            if (fields.size() != 3 || fields[0].trimmed().isEmpty())
                throw bad(QStringLiteral("a target line is name, TAB, right ascension, TAB, declination"));
            if (++targets > 1)
                throw bad(QStringLiteral("only one target per plan"));
            plan.target = fields[0].trimmed();
            try {
                plan.rightAscension = parseSexagesimal(QStringLiteral("HMS_Hours"), fields[1], u'h');
                plan.declination = parseSexagesimal(QStringLiteral("DMS_Degrees"), fields[2], u'd');
            } catch (const HostError& e) {
                throw bad(e.message());
            }
            continue;
        }
        static const QRegularExpression space(QStringLiteral("\\s"));
        const qsizetype blank = line.indexOf(space);
        const QString word = (blank < 0 ? line : line.left(blank)).toLower();
        const QString value = blank < 0 ? QString() : line.mid(blank + 1).trimmed();
        const auto number = [&](double low, double high) {
            const auto v = parseNumber(value);
            if (!v || *v < low || *v > high)
                throw bad(QStringLiteral("%1 needs a number from %2 to %3, not \"%4\"")
                              .arg(word, doubleText(low), doubleText(high), value));
            return *v;
        };
        const auto whole = [&](double low, double high) {
            const double v = number(low, high);
            if (v != std::floor(v))
                throw bad(QStringLiteral("%1 needs a whole number, not \"%2\"").arg(word, value));
            return static_cast<int>(v);
        };
        if (word == QStringLiteral("#autofocus"))
            plan.autofocus = true;
        else if (word == QStringLiteral("#calibrate"))
            plan.calibrate = true;
        else if (word == QStringLiteral("#dir"))
            plan.dir = value;
        else if (word == QStringLiteral("#filter"))
            plan.filter = value;
        else if (word == QStringLiteral("#subframe"))
            plan.subframe = number(0, 1);
        else if (word == QStringLiteral("#binning"))
            plan.binning = whole(1, 16);
        else if (word == QStringLiteral("#count"))
            plan.count = whole(0, 100000);
        else if (word == QStringLiteral("#interval"))
            plan.interval = number(0, 86400);
        else if (word == QStringLiteral("#chainscript"))
            plan.chainScript = value;
        else
            throw bad(QStringLiteral("unknown directive \"%1\"").arg(word));
    }
    if (targets == 0)
        throw HostError(QStringLiteral("plan"), planPath, QStringLiteral("no target line"));
    return plan;
}

AcquisitionPlan readHandedOverPlan(const QString& planDir, QString& planPath)
{
    return readHandedOverPlan(HandOver::take(planDir + QStringLiteral("/runplanonce.txt")), planPath);
}

AcquisitionPlan readHandedOverPlan(const HandOver& handOver, QString& planPath)
{
    const QStringList hand = handOver.lines();
    planPath = hand.isEmpty() ? QString() : hand.front().trimmed();
    if (planPath.isEmpty())
        throw HostError(QStringLiteral("RunScript"), handOver.path(), QStringLiteral("names no plan"));
    return parsePlan(planPath, readTextLines(planPath));
}

} // namespace kestrove
