#include "host/LightcurveFile.h"
#include "host/indi/steps/LightcurvePhotometry.h"
#include "text/HostError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kestrove {
namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

database::LightcurvePoint point(const char* target, const char* utc, double bjd, double magnitude)
{
    database::LightcurvePoint p;
    p.target = QString::fromUtf8(target);
    p.filter = QStringLiteral("V");
    p.utc = QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs);
    p.bjdTdb = bjd;
    p.magnitude = magnitude;
    p.error = 0.01234;
    p.airmass = 1.23456;
    p.comparisons = QStringLiteral("J192540.00+424700.0;J192600.00+424800.0");
    p.check = QStringLiteral("J192500.00+424600.0");
    p.checkMagnitude = -0.25;
    p.checkError = 0.011;
    return p;
}

TEST(LightcurveFile, ATargetsNameMakesItsFileName)
{
    const struct
    {
        const char* target;
        const char* file;
    } cases[] = {
        {"RR Lyr", "/log/lightcurves/RR Lyr.csv"}, {"V* AB/CD: 1?", "/log/lightcurves/V_ AB_CD_ 1_.csv"},
        {"..", "/log/lightcurves/_...csv"},        {" ", "/log/lightcurves/_.csv"},
        {"δ Cep", "/log/lightcurves/δ Cep.csv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lightcurvePath(QStringLiteral("/log"), QString::fromUtf8(c.target)),
                  QString::fromUtf8(c.file))
            << c.target;
}

// The header once, a line per point in the order they came, LF, UTF-8; a line a reader left
// unfinished by hand does not run into the next.
TEST(LightcurveFile, PointsAreAddedToTheirTargetsFile)
{
    QTemporaryDir dir;
    appendLightcurve(dir.path(), point("δ Cep", "2024-04-14T21:00:30Z", 2460415.380012345, 0.4321));
    database::LightcurvePoint second = point("δ Cep", "2024-04-14T21:10:30.250Z", 2460415.38695, -0.05);
    second.airmass = std::nullopt;
    second.check.clear();
    second.checkMagnitude = std::nullopt;
    second.checkError = std::nullopt;
    appendLightcurve(dir.path(), second);
    const QString path = dir.filePath(QStringLiteral("lightcurves/δ Cep.csv"));
    const QByteArray expected =
        "BJD_TDB,UTC,filter,magnitude,error,airmass,comparisons,check,check magnitude,check error\n"
        "2460415.380012,2024-04-14T21:00:30.000Z,V,0.4321,0.0123,1.235,J192540.00+424700.0;J192600.00+424800."
        "0,"
        "J192500.00+424600.0,-0.2500,0.0110\n"
        "2460415.386950,2024-04-14T21:10:30.250Z,V,-0.0500,0.0123,,J192540.00+424700.0;J192600.00+424800.0,,,"
        "\n";
    EXPECT_EQ(contentOf(path), expected);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("2460415.39,note");
    file.close();
    appendLightcurve(dir.path(), point("δ Cep", "2024-04-14T21:20:30Z", 2460415.39, 0.1));
    EXPECT_TRUE(contentOf(path).endsWith("2460415.39,note\n2460415.390000,2024-04-14T21:20:30.000Z,V,0.1000,"
                                         "0.0123,1.235,J192540.00+424700.0;J192600.00+424800.0,"
                                         "J192500.00+424600.0,-0.2500,0.0110\n"));
}

TEST(LightcurveFile, AFileThatCannotBeWrittenIsNamed)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("lightcurves")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        appendLightcurve(dir.path(), point("RR Lyr", "2024-04-14T21:00:30Z", 2460415.38, 0.4));
        ADD_FAILURE() << "wrote under a file";
    } catch (const HostError& e) {
        EXPECT_TRUE(e.message().contains(dir.filePath(QStringLiteral("lightcurves/RR Lyr.csv"))))
            << qPrintable(e.message());
    }
}

} // namespace
} // namespace kestrove

namespace kestrove::test {
namespace {

// The stars a plan names make the ensemble in place of those a frame would give: on the catalogue's
// scale only when every comparison has a magnitude.
TEST(LightcurvePhotometry, NamedStarsMakeTheEnsemble)
{
    struct Case
    {
        const char* name;
        std::vector<NamedStar> comparisons;
        std::optional<NamedStar> check;
        bool chosen; // false: none named, the frame chooses
        bool standard;
        QStringList names;
        QString checkName; // null: none
    };
    const NamedStar a{19.5, 42.75, 8.25, QStringLiteral("A")};
    const NamedStar b{19.25, -5.5, 9.5, QString()};
    const NamedStar c{19.75, 40, std::nullopt, QStringLiteral("C")};
    const Case cases[] = {
        {"none", {}, a, false, false, {}, {}},
        {"with magnitudes", {a, b}, c, true, true, {"A", "J191500.00-053000.0"}, "C"},
        {"one without", {a, c}, std::nullopt, true, false, {"A", "C"}, {}},
        {"a single one", {a}, std::nullopt, true, true, {"A"}, {}},
    };
    const imaging::CatalogueStar target{QStringLiteral("RR Lyr"), 291.36, 42.78, {}};
    for (const Case& t : cases) {
        const auto stars = indi::LightcurvePhotometry::namedStars(target, t.comparisons, t.check);
        ASSERT_EQ(stars.has_value(), t.chosen) << t.name;
        if (!stars)
            continue;
        EXPECT_TRUE(stars->named);
        EXPECT_EQ(stars->standard, t.standard) << t.name;
        EXPECT_EQ(stars->target.name, target.name);
        QStringList names;
        for (size_t i = 0; i < stars->comparisons.size(); ++i) {
            const imaging::CatalogueStar& s = stars->comparisons[i];
            names << s.name;
            EXPECT_DOUBLE_EQ(s.rightAscension, t.comparisons[i].rightAscension * 15) << t.name;
            EXPECT_EQ(s.magnitude, t.standard ? t.comparisons[i].magnitude : std::nullopt) << t.name;
        }
        EXPECT_EQ(names, t.names) << t.name;
        EXPECT_EQ(stars->check ? stars->check->name : QString(), t.checkName) << t.name;
    }
}

} // namespace
} // namespace kestrove::test
