#include "targets/TargetTable.h"

#include "core/Csv.h"
#include "targets/FileReplacement.h"
#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NumberText.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrove {

namespace {

const QChar tab = QLatin1Char('\t');
// Each save starts again on a file that changed while it was copied, as the survey's update does.
constexpr int kSaveAttempts = 5;

// A decimal RA in a CSV file is in degrees, as catalogues give it; the targets file holds hours.
QString importedRa(const QString& text)
{
    const auto degrees = parseNumber(text);
    if (!degrees)
        return text.trimmed();
    return formatSexagesimal(*degrees / 15, QStringLiteral(":"), QStringLiteral(":"), QString(), false);
}

// Decimal RA in the targets file is hours; exported as sexagesimal so that it reads back as hours.
QString exportedRa(const QString& text)
{
    const auto hours = parseNumber(text);
    if (!hours)
        return text;
    return formatSexagesimal(*hours, QStringLiteral(":"), QStringLiteral(":"), QString(), false);
}

QString importedDec(const QString& text)
{
    const auto degrees = parseNumber(text);
    if (!degrees)
        return text.trimmed();
    return formatSexagesimal(*degrees, QStringLiteral(":"), QStringLiteral(":"), QString(), true);
}

} // namespace

const QStringList& targetItemKeys()
{
    static const QStringList keys = {
        QStringLiteral("lastImageJD"), QStringLiteral("reshoot"),  QStringLiteral("imageCount"),
        QStringLiteral("priority"),    QStringLiteral("interval"), QStringLiteral("exposure"),
        QStringLiteral("binning"),     QStringLiteral("filter"),   QStringLiteral("minAltitude"),
        QStringLiteral("maxAirmass"),  QStringLiteral("window"),
    };
    return keys;
}

QString TargetEntry::item(const QString& key) const
{
    for (const auto& [k, v] : items)
        if (k == key)
            return v;
    return {};
}

void TargetEntry::setItem(const QString& key, const QString& value)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].first != key)
            continue;
        if (value.isEmpty())
            items.removeAt(i);
        else
            items[i].second = value;
        return;
    }
    if (!value.isEmpty())
        items << qMakePair(key, value);
}

QString TargetEntry::writtenConfigLine() const
{
    if (!configLine.isNull() && configItems(configLine) == items)
        return configLine;
    QStringList parts;
    for (const auto& [k, v] : items)
        parts << k + u'=' + v;
    return QStringLiteral("**** ") + parts.join(u' ');
}

TargetItems configItems(const QString& configLine)
{
    TargetItems items;
    // Items start after the four asterisks and one separator; an empty item ends the line.
    qsizetype start = 5;
    while (start < configLine.size()) {
        const qsizetype q = configLine.indexOf(u' ', start);
        const QString item = q < 0 ? configLine.mid(start) : configLine.mid(start, q - start);
        if (item.isEmpty())
            break;
        const qsizetype eq = item.indexOf(u'=');
        items << (eq < 0 ? qMakePair(item, QString()) : qMakePair(item.left(eq), item.mid(eq + 1)));
        if (q < 0)
            break;
        start = q + 1;
    }
    return items;
}

QString positionRangeProblem(QChar first, double value, const QString& text)
{
    const bool hours = first == u'h';
    if (hours ? value >= 0 && value <= 24 : value >= -90 && value <= 90)
        return {};
    return QStringLiteral("\"%1\" is outside %2")
        .arg(text.trimmed(), hours ? QStringLiteral("0 to 24 hours") : QStringLiteral("-90 to 90 degrees"));
}

QString entryProblem(const TargetEntry& e)
{
    QStringList problems;
    if (e.name.trimmed().isEmpty())
        problems << QStringLiteral("the name is empty");
    else if (e.name.contains(tab) || e.name.startsWith(QStringLiteral("****")))
        problems << QStringLiteral("the name \"%1\" holds a tab or begins with ****").arg(e.name);
    else if (std::any_of(e.name.begin(), e.name.end(), [](QChar c) { return c.unicode() > 0xff; }))
        // The targets file holds a byte a character.
        problems << QStringLiteral("the name \"%1\" holds a character outside Latin-1").arg(e.name);
    // The survey's own readers, so that what is accepted here is what a pass reads.
    for (const auto& [text, first, what] :
         {std::tuple{e.ra, u'h', "right ascension"}, std::tuple{e.dec, u'd', "declination"}}) {
        try {
            const double v = parseSexagesimal(
                first == u'h' ? QStringLiteral("HMS_Hours") : QStringLiteral("DMS_Degrees"), text, first);
            const QString range = std::isfinite(static_cast<float>(v)) ? positionRangeProblem(first, v, text)
                                                                       : QStringLiteral("too large");
            if (!range.isEmpty())
                problems << QStringLiteral("Invalid %1 - %2").arg(QLatin1String(what), range);
        } catch (const HostError& error) {
            problems << QStringLiteral("Invalid %1 - %2").arg(QLatin1String(what), error.reason());
        }
    }
    for (const auto& [key, value] : e.items) {
        if (value.contains(u' ') || value.contains(tab)) {
            problems << QStringLiteral("Invalid item %1=%2 - holds a blank").arg(key, value);
            continue;
        }
        const QString problem = targetItemProblem(key, value);
        if (!problem.isEmpty())
            problems << QStringLiteral("Invalid item %1=%2 - %3").arg(key, value, problem);
    }
    return problems.join(QStringLiteral("; "));
}

TargetsFile parseTargetsLines(const QStringList& lines)
{
    // As a pass reads the file: an entry is a line followed by a config line; any other line is
    // the user's and stays where it is.
    TargetsFile file;
    QStringList other;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.startsWith(QStringLiteral("****")) ||
            !lines.value(i + 1).startsWith(QStringLiteral("****"))) {
            other << line;
            continue;
        }
        const QStringList fields = line.split(tab);
        TargetEntry entry;
        entry.name = fields.value(0);
        entry.ra = fields.value(1);
        entry.dec = fields.mid(2).join(tab);
        entry.configLine = lines[++i];
        entry.items = configItems(entry.configLine);
        entry.before = std::exchange(other, {});
        file.entries << entry;
    }
    file.trailing = other;
    return file;
}

QStringList targetsFileLines(const TargetsFile& file)
{
    QStringList lines;
    for (const TargetEntry& e : file.entries)
        lines << e.before << e.targetLine() << e.writtenConfigLine();
    return lines << file.trailing;
}

TargetsFile readTargetsFile(FileSystem& fs, const QString& path)
{
    QStringList lines;
    if (fs.FileExists(path)) {
        auto in = fs.OpenTextFile(path, IOMode::ForReading);
        while (!in->AtEndOfStream())
            lines << in->ReadLine();
        in->Close();
    }
    return parseTargetsLines(lines);
}

TargetsFile mergedTargets(const TargetsFile& now, const TargetsFile& opened, const TargetsFile& edited)
{
    QHash<QString, TargetEntry> before, after;
    for (const TargetEntry& e : opened.entries)
        before.insert(e.name, e);
    for (const TargetEntry& e : edited.entries)
        after.insert(e.name, e);

    TargetsFile merged;
    QSet<QString> present;
    QStringList orphaned; // the lines above a deleted entry stay, above the next one
    for (const TargetEntry& current : now.entries) {
        present.insert(current.name);
        TargetEntry e = current;
        if (before.contains(current.name)) {
            if (!after.contains(current.name)) {
                orphaned << current.before;
                continue;
            }
            const TargetEntry& was = before[current.name];
            const TargetEntry& is = after[current.name];
            if (is.ra != was.ra)
                e.ra = is.ra;
            if (is.dec != was.dec)
                e.dec = is.dec;
            for (const QString& key : targetItemKeys())
                if (is.item(key) != was.item(key))
                    e.setItem(key, is.item(key));
        }
        e.before = std::exchange(orphaned, {}) + e.before;
        merged.entries << e;
    }
    merged.trailing = orphaned + now.trailing;
    for (const TargetEntry& e : edited.entries)
        if (!before.contains(e.name) && !present.contains(e.name))
            merged.entries << e;
    return merged;
}

QString saveTargetsFile(FileSystem& fs, const QString& path, const QString& newPath,
                        const TargetsFile& opened, const TargetsFile& edited)
{
    for (int attempt = 1; attempt <= kSaveAttempts; ++attempt) {
        FileReplacement replacement(fs, path, newPath);
        if (replacement.readOnly())
            return QStringLiteral("The targets file \"%1\" (or its folder) is read-only; it was not changed.")
                .arg(path);
        const TargetsFile merged = mergedTargets(readTargetsFile(fs, replacement.filePath()), opened, edited);
        {
            auto out = fs.CreateTextFile(replacement.newPath(), true);
            for (const QString& line : targetsFileLines(merged))
                out->WriteLine(line);
            out->Close();
        }
        if (replacement.unchanged()) {
            replacement.commit();
            return {};
        }
    }
    fs.GetFile(newPath)->Delete();
    return QStringLiteral(
               "The targets file \"%1\" changed each of the %2 times it was copied; it was not changed.")
        .arg(path)
        .arg(kSaveAttempts);
}

TargetsImport importTargetsCsv(const QString& text, const QList<TargetEntry>& existing)
{
    TargetsImport result;
    QSet<QString> names;
    for (const TargetEntry& e : existing)
        names.insert(e.name);
    QStringList lines = text.split(u'\n');
    // The delimiter is the one the first line uses.
    const QString first = lines.value(0);
    const QChar delimiter = first.count(u';') > first.count(u',') ? u';' : u',';
    QStringList columns{QStringLiteral("name"), QStringLiteral("ra"), QStringLiteral("dec")};
    columns << targetItemKeys();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = splitCsvLine(line, delimiter);
        const int number = static_cast<int>(i) + 1;
        const bool header = std::any_of(fields.begin(), fields.end(), [](const QString& f) {
            return f.trimmed().compare(QStringLiteral("name"), Qt::CaseInsensitive) == 0;
        });
        if (i == 0 && header) {
            // A header names the columns; config items may come in any order.
            columns.clear();
            for (const QString& f : fields) {
                const QString name = f.trimmed();
                const auto known =
                    std::find_if(targetItemKeys().begin(), targetItemKeys().end(),
                                 [&](const QString& k) { return k.compare(name, Qt::CaseInsensitive) == 0; });
                columns << (known != targetItemKeys().end() ? *known : name.toLower());
            }
            continue;
        }
        if (fields.size() < 3) {
            result.rejected << RejectedLine{number, QStringLiteral("needs a name, an RA and a Dec"), line};
            continue;
        }
        TargetEntry e;
        QString problem;
        for (qsizetype c = 0; c < fields.size() && problem.isEmpty(); ++c) {
            const QString column = columns.value(c);
            const QString value = fields[c].trimmed();
            if (column == QStringLiteral("name"))
                e.name = value;
            else if (column == QStringLiteral("ra"))
                e.ra = importedRa(value);
            else if (column == QStringLiteral("dec"))
                e.dec = importedDec(value);
            else if (targetItemKeys().contains(column))
                e.setItem(column, value);
            else if (!value.isEmpty())
                problem = QStringLiteral("column %1 is not a config item").arg(c + 1);
        }
        if (problem.isEmpty())
            problem = entryProblem(e);
        if (!problem.isEmpty()) {
            result.rejected << RejectedLine{number, problem, line};
            continue;
        }
        e.configLine = QStringLiteral("**** ");
        if (names.contains(e.name)) {
            result.duplicates << e;
            continue;
        }
        names.insert(e.name);
        result.added << e;
    }
    return result;
}

AreasImport importAreasCsv(const QString& text, double raStep, double decStep)
{
    AreasImport result;
    const QStringList lines = text.split(u'\n');
    const QString first = lines.value(0);
    const QChar delimiter = first.count(u';') > first.count(u',') ? u';' : u',';
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = splitCsvLine(line, delimiter);
        // A header row: its first field is no position.
        if (i == 0 && !fields.isEmpty() && !fields[0].isEmpty() && !fields[0][0].isDigit() &&
            fields[0][0] != u'+' && fields[0][0] != u'-')
            continue;
        const int number = static_cast<int>(i) + 1;
        if (fields.size() != 4) {
            result.rejected << RejectedLine{number, QStringLiteral("needs four corners"), line};
            continue;
        }
        const QString area = QStringList{importedRa(fields[0]), importedDec(fields[1]), importedRa(fields[2]),
                                         importedDec(fields[3])}
                                 .join(u' ');
        QString problem;
        if (mpsAreaFields(area, raStep, decStep, problem) == 0)
            result.rejected << RejectedLine{number, problem, line};
        else
            result.added << area;
    }
    return result;
}

QString exportAreasCsv(const QStringList& areaLines)
{
    QString text = csvLine({QStringLiteral("raStart"), QStringLiteral("decStart"), QStringLiteral("raEnd"),
                            QStringLiteral("decEnd")}) +
                   QStringLiteral("\r\n");
    for (const QString& area : areaLines) {
        QStringList corners = area.split(u' ');
        for (int i = 0; i < corners.size(); i += 2)
            corners[i] = exportedRa(corners[i]);
        text += csvLine(corners) + QStringLiteral("\r\n");
    }
    return text;
}

QString exportTargetsCsv(const QList<TargetEntry>& entries)
{
    QStringList header{QStringLiteral("name"), QStringLiteral("ra"), QStringLiteral("dec")};
    header << targetItemKeys();
    QString text = csvLine(header) + QStringLiteral("\r\n");
    for (const TargetEntry& e : entries) {
        QStringList fields{e.name, exportedRa(e.ra), e.dec};
        for (const QString& key : targetItemKeys())
            fields << e.item(key);
        text += csvLine(fields) + QStringLiteral("\r\n");
    }
    return text;
}

} // namespace kestrove
