#include "app/CommandLine.h"

#include <QTimeZone>

#include <limits>

namespace kestrove {

namespace {

// An ISO 8601 instant; one written without an offset is taken as UTC.
QDateTime parseUtcInstant(const QString& text)
{
    QDateTime instant = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!instant.isValid())
        instant = QDateTime::fromString(text, Qt::ISODate);
    if (!instant.isValid())
        return {};
    if (instant.timeSpec() == Qt::LocalTime)
        instant.setTimeZone(QTimeZone::utc());
    return instant.toUTC();
}

} // namespace

std::optional<CommandLine> parseCommandLine(const QStringList& arguments, QString& error)
{
    CommandLine result;
    error.clear();
    for (int i = 0; i < arguments.size(); ++i) {
        QString option = arguments[i];
        QString value;
        bool hasValue = false;
        if (option.startsWith(QLatin1String("--"))) {
            const qsizetype equals = option.indexOf(QLatin1Char('='));
            if (equals > 0) {
                value = option.mid(equals + 1);
                option.truncate(equals);
                hasValue = true;
            }
        } else if (option == QLatin1String("-h")) {
            option = QStringLiteral("--help");
        } else if (option.startsWith(QLatin1Char('-')) && option.size() > 1) {
            // A toolkit option (-platform offscreen, -style fusion, -reverse): the toolkit reads
            // it; skip it and the value that follows it.
            if (i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1Char('-')))
                ++i;
            continue;
        } else {
            error = QStringLiteral("unexpected argument \"%1\"").arg(option);
            return std::nullopt;
        }

        const auto takeValue = [&]() -> bool {
            if (hasValue || i + 1 < arguments.size()) {
                if (!hasValue)
                    value = arguments[++i];
                if (!value.isEmpty())
                    return true;
            }
            error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        };
        // A number from `low` to `high`, whole when `whole`; otherwise the error says what was wanted.
        const auto takeNumber = [&](double low, double high, bool whole,
                                    const char* wanted) -> std::optional<double> {
            if (!takeValue())
                return std::nullopt;
            bool ok = false;
            const double number = whole ? static_cast<double>(value.toLongLong(&ok)) : value.toDouble(&ok);
            if (!ok || !(number >= low && number <= high)) {
                error = QStringLiteral("%1 needs %2, not \"%3\"").arg(option, QLatin1String(wanted), value);
                return std::nullopt;
            }
            return number;
        };
        const auto noValue = [&]() -> bool {
            if (hasValue)
                error = QStringLiteral("%1 takes no value").arg(option);
            return !hasValue;
        };

        if (option == QLatin1String("--help") || option == QLatin1String("--version")) {
            if (!noValue())
                return std::nullopt;
            (option == QLatin1String("--help") ? result.help : result.version) = true;
        } else if (option == QLatin1String("--folder")) {
            if (!takeValue())
                return std::nullopt;
            result.folder = value;
        } else if (option == QLatin1String("--observatory")) {
            if (!takeValue())
                return std::nullopt;
            result.observatory = value;
        } else if (option == QLatin1String("--headless")) {
            if (!noValue())
                return std::nullopt;
            result.headless = true;
        } else if (option == QLatin1String("--close")) {
            if (!noValue())
                return std::nullopt;
            result.close = true;
        } else if (option == QLatin1String("--start")) {
            if (!noValue())
                return std::nullopt;
            result.start = true;
        } else if (option == QLatin1String("--passes")) {
            const auto passes = takeNumber(1, std::numeric_limits<int>::max(), true, "a whole number above 0");
            if (!passes)
                return std::nullopt;
            result.limits.passes = static_cast<int>(*passes);
        } else if (option == QLatin1String("--until")) {
            if (!takeValue())
                return std::nullopt;
            result.limits.untilUtc = parseUtcInstant(value);
            if (!result.limits.untilUtc.isValid()) {
                error = QStringLiteral(
                            "--until needs an ISO 8601 instant such as 2024-03-02T05:30:00Z, not \"%1\"")
                            .arg(value);
                return std::nullopt;
            }
        } else if (option == QLatin1String("--preview") || option == QLatin1String("--report")) {
            if (!noValue())
                return std::nullopt;
            (option == QLatin1String("--preview") ? result.preview : result.report) = true;
        } else if (option == QLatin1String("--night")) {
            if (!takeValue())
                return std::nullopt;
            result.night = QDate::fromString(value, Qt::ISODate);
            if (!result.night.isValid()) {
                error = QStringLiteral("--night needs a date such as 2024-03-02, not \"%1\"").arg(value);
                return std::nullopt;
            }
        } else if (option == QLatin1String("--from") || option == QLatin1String("--to")) {
            if (!takeValue())
                return std::nullopt;
            QDateTime& instant = option == QLatin1String("--from") ? result.fromUtc : result.toUtc;
            instant = parseUtcInstant(value);
            if (!instant.isValid()) {
                error =
                    QStringLiteral("%1 needs an ISO 8601 instant such as 2024-03-02T21:00:00Z, not \"%2\"")
                        .arg(option, value);
                return std::nullopt;
            }
        } else if (option == QLatin1String("--web")) {
            const auto port = takeNumber(1, 65535, true, "a port from 1 to 65535");
            if (!port)
                return std::nullopt;
            result.webPort = static_cast<int>(*port);
        } else if (option == QLatin1String("--nights")) {
            const auto nights = takeNumber(1, 366, true, "a whole number from 1 to 366");
            if (!nights)
                return std::nullopt;
            result.nights = static_cast<int>(*nights);
        } else if (option == QLatin1String("--seed")) {
            const auto seed = takeNumber(0, std::numeric_limits<quint32>::max(), true, "a whole number");
            if (!seed)
                return std::nullopt;
            result.seed = static_cast<quint32>(*seed);
        } else if (option == QLatin1String("--clear-fraction")) {
            const auto fraction = takeNumber(0, 1, false, "a number from 0 to 1");
            if (!fraction)
                return std::nullopt;
            result.clearFraction = *fraction;
        } else if (option == QLatin1String("--compare-policies")) {
            if (!noValue())
                return std::nullopt;
            result.comparePolicies = true;
        } else if (option == QLatin1String("--out")) {
            if (!takeValue())
                return std::nullopt;
            result.out = value;
        } else {
            error = QStringLiteral("unknown option \"%1\"").arg(option);
            return std::nullopt;
        }
    }

    // Asked for help or the version, the rest is not looked at.
    if (result.help || result.version)
        return result;
    // Options that belong to one mode only, and the modes that exclude each other.
    const bool night = result.preview || result.report;
    if (result.preview && result.report)
        error = QStringLiteral("--preview and --report cannot be combined");
    else if (result.close &&
             (night || result.start || result.limits.passes > 0 || result.limits.untilUtc.isValid()))
        error = QStringLiteral(
            "--close closes the observatory and ends; it takes --folder and --observatory only");
    else if (night && (result.start || result.limits.passes > 0 || result.limits.untilUtc.isValid()))
        error =
            QStringLiteral("--start, --passes and --until belong to a survey, not to --preview or --report");
    else if (!night && (result.night.isValid() || !result.out.isEmpty()))
        error = QStringLiteral("--night and --out need --preview or --report");
    else if (!result.preview && (result.nights != 1 || result.clearFraction != 1))
        error = QStringLiteral("--nights and --clear-fraction need --preview");
    else if (!result.preview && result.comparePolicies)
        error = QStringLiteral("--compare-policies needs --preview");
    else if (result.nights > 1 && result.fromUtc.isValid())
        error = QStringLiteral("--nights previews whole nights; give --night, not --from and --to");
    else if (!result.preview && (result.fromUtc.isValid() || result.toUtc.isValid()))
        error = QStringLiteral("--from and --to need --preview");
    else if (result.fromUtc.isValid() != result.toUtc.isValid())
        error = QStringLiteral("--from and --to go together");
    else if (result.fromUtc.isValid() && result.night.isValid())
        error = QStringLiteral("give either --night or --from and --to");
    else if (result.fromUtc.isValid() && !(result.fromUtc < result.toUtc))
        error = QStringLiteral("--to must come after --from");
    else if (result.fromUtc.isValid() && result.fromUtc.secsTo(result.toUtc) > 7 * 24 * 3600)
        error = QStringLiteral("--from and --to may span at most a week");
    if (!error.isEmpty())
        return std::nullopt;
    return result;
}

QString helpText()
{
    return QStringLiteral(
        // One line each, as help2man reads them into the manual page's synopsis.
        "Usage: kestrove [--folder DIR] [--observatory DIR] [--headless] [--start] [--passes N] "
        "[--until INSTANT] [--web PORT]\n"
        "  or:  kestrove --close [--folder DIR] [--observatory DIR]\n"
        "  or:  kestrove --preview [--night YYYY-MM-DD | --from INSTANT --to INSTANT] [--out DIR] "
        "[--nights N [--clear-fraction F --seed S]] [--compare-policies] [--folder DIR] [--observatory DIR]\n"
        "  or:  kestrove --report [--night YYYY-MM-DD] [--out DIR] [--folder DIR] [--observatory DIR]\n"
        "  or:  kestrove --help | --version\n"
        "\n"
        "Runs a sky survey pass after pass on the observatory that observatory.ini describes.\n"
        "\n"
        "  --folder DIR          the program folder (config.ini, the targets files)\n"
        "  --observatory DIR     the observatory's folder (default: observatory/ in the program folder)\n"
        "  --headless            no window: config.ini says which kinds are on; the survey starts at once\n"
        "  --start               press \"Start Survey\" once the window is shown\n"
        "  --passes N            stop after N passes, as \"Stop Survey\" would\n"
        "  --until INSTANT       stop when the observatory's clock reaches an ISO 8601 UTC instant\n"
        "  --web PORT            serve the survey's web page and JSON on PORT ([web] in observatory.ini)\n"
        "  --close               park the mount, close the roof and warm the camera now, then end\n"
        "  --preview             preview a night in virtual time; print its summary, write its files\n"
        "  --report              report what a night did, from history.csv\n"
        "  --night YYYY-MM-DD    with --preview or --report: the night that begins that evening\n"
        "  --from INSTANT --to INSTANT\n"
        "                        with --preview: this span instead of the night's dark hours\n"
        "  --nights N            with --preview: N nights from --night on, carried from night to night\n"
        "  --clear-fraction F --seed S\n"
        "                        with --nights: the share of nights that are clear, drawn from seed S\n"
        "  --compare-policies    with --preview: the specified and the balanced policy side by side on the\n"
        "                        same nights, each policy's files in a folder of its own\n"
        "  --out DIR             with --preview or --report: where the files go\n"
        "  --help                print this and exit\n"
        "  --version             print the version and exit\n"
        "\n"
        "Only the window needs a display; --headless, --close, --preview and --report run without one.\n");
}

} // namespace kestrove
