#include "settings/ConfigFile.h"

#include "text/FileMessage.h"
#include "text/HostError.h"
#include "text/NumberText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>
#include <functional>
#include <optional>

namespace kestrove {

namespace {

const QString configFileName = QStringLiteral("config.ini");
const QString badConfigFileName = QStringLiteral("config.ini.bad");

// One value of the file as read: the text and the line it stands on (1-based).
struct Field
{
    QString text;
    int line = 0;
    QString lineText; // the whole line, for messages
};

// The file as a sequence of fields separated by commas or line ends (CR LF or LF).
QList<Field> splitFields(const QByteArray& bytes)
{
    QList<Field> fields;
    const QString text = QString::fromLatin1(bytes);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // The text after the last line end is a line only when it holds something.
        if (i == lines.size() - 1 && line.isEmpty())
            break;
        for (const QString& piece : line.split(QLatin1Char(',')))
            fields.append({piece, i + 1, line});
    }
    return fields;
}

// One setting: its key, how to write its value, and how to store a value read as text (false when
// the text cannot be converted to the field's type).
struct SettingIO
{
    QString key;
    std::function<QString(const SurveySettings&)> write;
    std::function<bool(SurveySettings&, const QString&)> read;
};

SettingIO int16Setting(const char* key, int16_t SurveySettings::*field)
{
    return {QString::fromLatin1(key), [field](const SurveySettings& s) { return integerText(s.*field); },
            [field](SurveySettings& s, const QString& text) {
                const auto value = parseInt16(text);
                if (value)
                    s.*field = *value;
                return value.has_value();
            }};
}

SettingIO singleSetting(const char* key, float SurveySettings::*field)
{
    return {QString::fromLatin1(key), [field](const SurveySettings& s) { return singleText(s.*field); },
            [field](SurveySettings& s, const QString& text) {
                const auto value = parseNumber(text);
                if (!value || !std::isfinite(static_cast<float>(*value)))
                    return false;
                s.*field = static_cast<float>(*value);
                return true;
            }};
}

SettingIO doubleSetting(const char* key, double SurveySettings::*field)
{
    return {QString::fromLatin1(key), [field](const SurveySettings& s) { return doubleText(s.*field); },
            [field](SurveySettings& s, const QString& text) {
                const auto value = parseNumber(text);
                if (value)
                    s.*field = *value;
                return value.has_value();
            }};
}

SettingIO textSetting(const char* key, QString SurveySettings::*field)
{
    return {QString::fromLatin1(key), [field](const SurveySettings& s) { return s.*field; },
            [field](SurveySettings& s, const QString& text) {
                s.*field = text;
                return true;
            }};
}

// The 33 settings in the order of the file.
const QList<SettingIO>& settingsTable()
{
    using S = SurveySettings;
    static const QList<SettingIO> table = {
        doubleSetting("lastFocusJD", &S::lastFocusJD),
        int16Setting("focusInterval", &S::focusInterval),
        int16Setting("SNeEnabled", &S::SNeEnabled),
        int16Setting("MPSEnabled", &S::MPSEnabled),
        int16Setting("MPFEnabled", &S::MPFEnabled),
        int16Setting("SLCEnabled", &S::SLCEnabled),
        int16Setting("SNeWeight", &S::SNeWeight),
        int16Setting("MPSWeight", &S::MPSWeight),
        int16Setting("MPFWeight", &S::MPFWeight),
        int16Setting("SLCWeight", &S::SLCWeight),
        textSetting("baseDir", &S::baseDir),
        singleSetting("slewRate", &S::slewRate),
        singleSetting("flipTime", &S::flipTime),
        singleSetting("maxElevation", &S::maxElevation),
        singleSetting("minAzimuth", &S::minAzimuth),
        singleSetting("maxAzimuth", &S::maxAzimuth),
        singleSetting("exposureSNe", &S::exposureSNe),
        int16Setting("cameraBinningSNe", &S::cameraBinningSNe),
        textSetting("cameraFilterSNe", &S::cameraFilterSNe),
        singleSetting("cameraSubframeSNe", &S::cameraSubframeSNe),
        singleSetting("exposureMPS", &S::exposureMPS),
        int16Setting("cameraBinningMPS", &S::cameraBinningMPS),
        textSetting("cameraFilterMPS", &S::cameraFilterMPS),
        int16Setting("intervalMPS", &S::intervalMPS),
        int16Setting("imagesMPS", &S::imagesMPS),
        doubleSetting("fovRAMPS", &S::fovRAMPS),
        doubleSetting("fovDecMPS", &S::fovDecMPS),
        singleSetting("exposureSLC", &S::exposureSLC),
        int16Setting("cameraBinningSLC", &S::cameraBinningSLC),
        textSetting("cameraFilterSLC", &S::cameraFilterSLC),
        singleSetting("cameraSubframeSLC", &S::cameraSubframeSLC),
        singleSetting("setSizeSLC", &S::setSizeSLC),
        singleSetting("minElevationSLC", &S::minElevationSLC),
    };
    return table;
}

// A file of the program folder, named as the survey names it.
QString inFolder(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// Keeps what the user wrote before anything overwrites it. Returns why the copy failed, or nothing.
QString keepBadCopy(const QString& path, const QByteArray& bytes)
{
    QSaveFile copy(path);
    if (!copy.open(QIODevice::WriteOnly))
        return copy.errorString();
    if (copy.write(bytes) != bytes.size()) {
        const QString reason = copy.errorString();
        copy.cancelWriting();
        return reason;
    }
    return copy.commit() ? QString() : copy.errorString();
}

} // namespace

QString SurveySettings::defaultBaseDir()
{
    return QDir::homePath() + QStringLiteral("/Astronomy/Kestrove/");
}

ConfigRead readConfigFile(const QString& programFolder)
{
    const QString path = inFolder(programFolder, configFileName);
    ConfigRead read;
    if (const QFileInfo info(path); !info.exists() || info.isDir())
        return read;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw HostError(QStringLiteral("LoadConfig"), path, file.errorString());
    const QByteArray bytes = file.readAll();
    file.close();

    // Values read before a fault stay; every later setting keeps its default.
    SurveySettings& loaded = read.settings;
    const QList<Field> fields = splitFields(bytes);
    const QList<SettingIO>& table = settingsTable();
    QString fault;
    for (int i = 0; i < table.size(); ++i) {
        const int valueIndex = 2 * i + 1;
        if (valueIndex >= fields.size()) {
            const Field last = fields.isEmpty() ? Field() : fields.last();
            fault = lineMessage(configFileName, last.line,
                                QStringLiteral("the file ends before %1, setting %2 of %3")
                                    .arg(table[i].key)
                                    .arg(i + 1)
                                    .arg(table.size()),
                                last.lineText);
            break;
        }
        const Field& value = fields[valueIndex];
        if (!table[i].read(loaded, value.text)) {
            fault = lineMessage(
                configFileName, value.line,
                QStringLiteral("the value \"%1\" cannot be read as %2").arg(value.text, table[i].key),
                value.lineText);
            break;
        }
    }
    if (fault.isEmpty())
        return read;

    // The defaults would replace the user's later values at the next save, so the file goes on only
    // once it is kept; if it cannot be, the run ends here, before anything is saved over it.
    const QString badPath = inFolder(programFolder, badConfigFileName);
    const QString copyFailure = keepBadCopy(badPath, bytes);
    if (!copyFailure.isEmpty())
        throw ConfigMustBeKept(
            QStringLiteral("LoadConfig"), path,
            fault + QStringLiteral(" The file could not be copied to \"%1\" (%2), so it is left as it "
                                   "stands and nothing is saved over it.")
                        .arg(badPath, copyFailure));
    read.fault = fault + QStringLiteral("\nThe settings read before it are kept; the others have their "
                                       "default values. The file was copied to \"%1\".")
                             .arg(badPath);
    return read;
}

void writeConfigFile(const QString& programFolder, const SurveySettings& settings)
{
    const QString path = inFolder(programFolder, configFileName);
    QByteArray bytes;
    for (const SettingIO& setting : settingsTable())
        bytes += (setting.key + QLatin1Char(',') + setting.write(settings)).toLatin1() + "\r\n";

    // The whole file or the old one, never half of it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw HostError(QStringLiteral("SaveConfig"), path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw HostError(QStringLiteral("SaveConfig"), path, reason);
    }
    if (!file.commit())
        throw HostError(QStringLiteral("SaveConfig"), path, file.errorString());
}

} // namespace kestrove
