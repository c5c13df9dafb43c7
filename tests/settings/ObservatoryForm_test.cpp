#include "settings/ObservatoryForm.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestrove {
namespace {

const QByteArray handEdited = "; my observatory, edited by hand\r\n"
                              "[site]\r\n"
                              "latitude = 28.76   ; the dome\r\n"
                              "# not Kestrove's\r\n"
                              "myKey=kept\r\n"
                              "longitude=-17.88\r\n"
                              "\r\n"
                              "[limits]\r\n"
                              "minimumElevation=20\r\n"
                              "\r\n"
                              "[mine]\r\n"
                              "x=1";

// Only the changed values change: comments, blank lines, order and unknown lines stay byte for byte.
TEST(ObservatoryForm, AnEditChangesOnlyTheChangedValues)
{
    const struct
    {
        const char* what;
        QList<QPair<QString, QString>> changes;
        QByteArray expected;
    } cases[] = {
        {"nothing", {}, handEdited},
        {"a value with its comment and spacing",
         {{"site/latitude", "30"}},
         QByteArray(handEdited).replace("latitude = 28.76   ; the dome", "latitude = 30")},
        {"a key missing from its section",
         {{"limits/sunAltitude", "-18"}},
         QByteArray(handEdited)
             .replace("minimumElevation=20\r\n", "minimumElevation=20\r\nsunAltitude=-18\r\n")},
        {"a missing section, at the end",
         {{"indi/server", "obs:7624"}},
         handEdited + "\r\n\r\n[indi]\r\nserver=obs:7624\r\n"},
        {"a value holding commas is quoted",
         {{"weather/unsafe",
           "2026-01-01T00:00:00Z/2026-01-01T01:00:00Z, 2026-01-02T00:00:00Z/2026-01-02T01:00:00Z"}},
         handEdited + "\r\n\r\n[weather]\r\nunsafe=\"2026-01-01T00:00:00Z/2026-01-01T01:00:00Z, "
                      "2026-01-02T00:00:00Z/2026-01-02T01:00:00Z\"\r\n"},
        {"LF ends stay LF", {{"site/longitude", "5"}}, {}},
    };
    for (const auto& c : cases) {
        if (c.expected.isEmpty()) {
            const QByteArray lf = QByteArray(handEdited).replace("\r\n", "\n");
            EXPECT_EQ(editedIni(lf, c.changes), QByteArray(lf).replace("longitude=-17.88", "longitude=5"))
                << c.what;
            continue;
        }
        EXPECT_EQ(editedIni(handEdited, c.changes), c.expected) << c.what;
    }
}

// What the dialog saves is what the survey reads back.
TEST(ObservatoryForm, ASavedChangeIsReadBack)
{
    QTemporaryDir dir;
    const ObservatorySettings before = readObservatorySettings(dir.path());
    saveObservatoryChanges(dir.path(), {{"site/latitude", "-31.5"},
                                        {"limits/horizon", "0:10 180:5"},
                                        {"weather/unsafe", "2026-01-01T00:00:00Z/2026-01-01T01:00:00Z, "
                                                           "2026-01-02T00:00:00Z/2026-01-02T01:00:00Z"},
                                        {"indi/coolTo", ""},
                                        {"solve/scale", "5.4"},
                                        {"focus/step", "1000"},
                                        {"discovery/radius", "4.5"},
                                        {"report/mpcCode", "Z99"}});
    const ObservatorySettings after = readObservatorySettings(dir.path());
    EXPECT_EQ(after.latitude, -31.5);
    EXPECT_EQ(after.horizon.size(), 2);
    EXPECT_EQ(after.unsafe.size(), 2);
    EXPECT_EQ(after.solve.scale, std::optional<double>(5.4));
    EXPECT_EQ(after.focus.step, 1000);
    EXPECT_EQ(after.discovery.radius, 4.5);
    EXPECT_EQ(after.mpcCode, QStringLiteral("Z99"));
    EXPECT_EQ(after.longitude, before.longitude);
    EXPECT_TRUE(after.notes.isEmpty()) << after.notes.join(u'\n').toStdString();
}

// The web token guards Stop and Close: a file written with it in is the owner's alone, and a file
// without it keeps the mode it had.
TEST(ObservatoryForm, AFileHoldingTheTokenIsTheOwnersAlone)
{
    const auto modeOf = [](const QString& path) {
        struct stat st = {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    const struct
    {
        const char* what;
        const char* before; // null: no file
        int mode;
        QList<QPair<QString, QString>> changes;
        int expected;
    } cases[] = {
        {"made with the token", nullptr, 0, {{"web/token", "t0ken"}}, 0600},
        {"the token added", "[site]\nlatitude=1\n", 0644, {{"web/token", "t0ken"}}, 0600},
        {"rewritten holding the token", "[web]\ntoken=t0ken\n", 0644, {{"site/latitude", "2"}}, 0600},
        {"no token", "[site]\nlatitude=1\n", 0644, {{"site/latitude", "2"}}, 0644},
        {"no token, the owner's mode", "[site]\nlatitude=1\n", 0640, {{"site/latitude", "2"}}, 0640},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = observatoryIniPath(dir.path());
        if (c.before) {
            test::writeBytes(path, c.before);
            ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(c.mode));
        }
        saveObservatoryChanges(dir.path(), c.changes);
        EXPECT_EQ(modeOf(path), c.expected) << c.what;
    }
    // The whole file written anew keeps the token, and so keeps it private.
    QTemporaryDir dir;
    const QString path = observatoryIniPath(dir.path());
    test::writeBytes(path, "[web]\ntoken=t0ken\n");
    ::chmod(QFile::encodeName(path).constData(), 0644);
    writeObservatorySettings(dir.path(), readObservatorySettings(dir.path()));
    EXPECT_TRUE(test::readBytes(path).contains("t0ken"));
    EXPECT_EQ(modeOf(path), 0600);
}

TEST(ObservatoryForm, AValueOutOfRangeIsRefusedNamingTheBox)
{
    const auto field = [](const char* key) {
        for (const ObservatoryField& f : observatoryFields())
            if (f.key == QLatin1String(key))
                return f;
        return ObservatoryField{};
    };
    const struct
    {
        const char* key;
        const char* text;
        const char* problem; // empty: accepted
    } cases[] = {
        {"site/latitude", "91", "Latitude (degrees): \"91\" lies outside -90 to 90"},
        {"site/latitude", "-90", ""},
        {"site/elevation", "high", "Elevation (metres): \"high\" is not a number"},
        {"mount/alignmentMode", "1.5", "is not a whole number"},
        {"limits/moonSeparation", "", ""},
        {"limits/moonSeparation", "200", "Moon separation"},
        {"site/timeZone", "Mars/Olympus", "is not a known IANA time zone"},
        {"limits/horizon", "0:10 x", "Horizon"},
        {"solve/attempts", "0", "Solves per target: \"0\" lies outside 1 to 20"},
        {"solve/scale", "", ""},
        {"clock/start", "2026-12-07T20:00:00Z", ""},
        {"host/kind", "ascom", "neither sim nor indi"},
        {"dome/slaving", "driver", ""},
        {"dome/slaving", "ascom", "Slaving: \"ascom\" is neither kestrove nor driver"},
        {"dome/radius", "0", "Dome radius (metres): \"0\" lies outside 0.1 to 100"},
        {"calibration/darks", "0", "Darks (per exposure): \"0\" lies outside 1 to 1000"},
        {"calibration/enabled", "true", ""},
        {"discovery/minSnr", "2", "Least S/N: \"2\" lies outside 3 to 1000"},
        {"discovery/linkResidual", "1.5", ""},
        {"report/mpcCode", "Z99", ""},
    };
    for (const auto& c : cases) {
        const QString problem = fieldProblem(field(c.key), QString::fromLatin1(c.text));
        if (*c.problem == 0)
            EXPECT_TRUE(problem.isEmpty()) << c.key << ": " << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.problem))) << c.key << ": " << problem.toStdString();
    }
}

TEST(ObservatoryForm, ValuesThatCannotStandTogetherAreRefused)
{
    QTemporaryDir dir;
    const QMap<QString, QString> defaults = observatoryValues(observatoryDefaults(dir.path()), dir.path());
    const struct
    {
        QList<QPair<QString, QString>> edits;
        const char* problem; // empty: accepted
    } cases[] = {
        {{}, ""},
        {{{"indi/dome", "Dome Simulator"}}, ""},
        {{{"indi/roof", "RollOff Simulator"}, {"indi/dome", "Dome Simulator"}}, "both name a device"},
        {{{"dome/mountOffsetUp", "1.2"}, {"dome/declinationAxis", "0.4"}}, "reach 1.6 m"},
        {{{"dome/radius", "2"}, {"dome/mountOffsetUp", "1.2"}, {"dome/declinationAxis", "0.4"}}, ""},
        {{{"calibration/flatExposureMin", "5"}, {"calibration/flatExposureMax", "2"}}, "Longest flat"},
    };
    for (const auto& c : cases) {
        QMap<QString, QString> values = defaults;
        for (const auto& [key, text] : c.edits)
            values[key] = text;
        const QString problem = combinedProblem(values);
        if (*c.problem == 0)
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.problem))) << problem.toStdString();
    }
}

TEST(ObservatoryForm, DevicesGoOnlyInTheBoxesOfTheirKind)
{
    const struct
    {
        unsigned interfaces;
        const char* driver;
        QStringList keys;
    } cases[] = {
        {1 | 4, "indi_simulator_telescope", {"indi/mount"}},
        {2 | 4, "indi_simulator_ccd", {"indi/camera"}},
        {8, "indi_simulator_focus", {"indi/focuser"}},
        {2 | 16, "indi_qhy_ccd", {"indi/camera", "indi/filterWheel"}},
        {128, "indi_simulator_weather", {"indi/weather"}},
        // A roll-off roof and a dome share INDI's dome interface: either may be the one that turns.
        {32, "indi_rolloff_dome", {"indi/roof", "indi/dome"}},
        {32768, "indi_watchdog", {"indi/watchdog"}},
        {32768, "indi_gpio", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(deviceKeysFor(c.interfaces, QString::fromLatin1(c.driver)), c.keys) << c.driver;
}

// A zone far from the longitude's solar time is said; one that fits, or a value not yet readable, is
// not.
TEST(ObservatoryForm, AZoneThatDoesNotFitTheLongitudeIsSaid)
{
    const struct
    {
        const char* zone;
        const char* longitude;
        bool said;
    } cases[] = {
        {"Atlantic/Canary", "-17.88", false}, {"America/Santiago", "-70.7", false},
        {"Asia/Shanghai", "87.6", false}, // China's one zone, 2.2 h from Urumqi's sun
        {"Europe/Madrid", "-3.7", false},     {"Pacific/Auckland", "174.8", false},
        {"America/Santiago", "70.7", true}, // east typed for west
        {"Atlantic/Canary", "-70.7", true},   {"Atlantic/Canary", "x", false},
        {"Nowhere/Else", "10", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            !zoneLongitudeMismatch(QString::fromLatin1(c.zone), QString::fromLatin1(c.longitude)).isEmpty(),
            c.said)
            << c.zone << " " << c.longitude;
}

} // namespace
} // namespace kestrove
