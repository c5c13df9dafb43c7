#include "report/AavsoReport.h"

#include <gtest/gtest.h>

using namespace kestrove;

namespace {

// The format's published examples: one comparison star, then an ensemble, in B and V.
AavsoObservation ssCyg(double jd, double mag, const char* filter, std::optional<double> cmag, double kmag,
                       double airmass)
{
    AavsoObservation o;
    o.starId = QStringLiteral("SS CYG");
    o.julianDate = jd;
    o.magnitude = mag;
    o.error = 0.003;
    o.filter = QLatin1String(filter);
    o.comparison = cmag ? QStringLiteral("105") : QStringLiteral("ENSEMBLE");
    o.comparisonMagnitude = cmag;
    o.check = cmag ? QStringLiteral("110") : QStringLiteral("105");
    o.checkMagnitude = kmag;
    o.airmass = airmass;
    o.group = QStringLiteral("1");
    o.chart = QStringLiteral("X16382L");
    return o;
}

const AavsoFileOptions example{QStringLiteral("TST01"), QStringLiteral("GCX 2.0"), 4};

} // namespace

TEST(AavsoReport, TheFormatsPublishedExamplesComeOutAsPublished)
{
    EXPECT_EQ(
        aavsoExtendedFile({ssCyg(2450702.1234, 11.235, "B", 10.593, 11.090, 1.561),
                           ssCyg(2450702.1254, 11.135, "V", 10.594, 10.994, 1.563)},
                          example),
        QByteArray("#TYPE=EXTENDED\n"
                   "#OBSCODE=TST01\n"
                   "#SOFTWARE=GCX 2.0\n"
                   "#DELIM=,\n"
                   "#DATE=JD\n"
                   "#OBSTYPE=CCD\n"
                   "#NAME,DATE,MAG,MERR,FILT,TRANS,MTYPE,CNAME,CMAG,KNAME,KMAG,AMASS,GROUP,CHART,NOTES\n"
                   "SS CYG,2450702.1234,11.235,0.003,B,NO,STD,105,10.593,110,11.090,1.561,1,X16382L,na\n"
                   "SS CYG,2450702.1254,11.135,0.003,V,NO,STD,105,10.594,110,10.994,1.563,1,X16382L,na\n"));
    const QList<QByteArray> ensemble =
        aavsoExtendedFile({ssCyg(2450702.1234, 11.235, "B", std::nullopt, 10.593, 1.561),
                           ssCyg(2450702.1254, 11.135, "V", std::nullopt, 10.492, 1.563)},
                          example)
            .split('\n');
    ASSERT_EQ(ensemble.size(), 10);
    EXPECT_EQ(ensemble[7],
              "SS CYG,2450702.1234,11.235,0.003,B,NO,STD,ENSEMBLE,na,105,10.593,1.561,1,X16382L,na");
    EXPECT_EQ(ensemble[8],
              "SS CYG,2450702.1254,11.135,0.003,V,NO,STD,ENSEMBLE,na,105,10.492,1.563,1,X16382L,na");
}

TEST(AavsoReport, AFieldHoldingTheDelimiterMovesItAndWhatIsNotKnownIsNa)
{
    AavsoObservation o;
    o.starId = QStringLiteral("V* X, Her");
    o.julianDate = 2460100.512345678;
    o.magnitude = 14.5;
    o.fainterThan = true;
    o.differential = true;
    o.filter = aavsoFilter(QStringLiteral("Luminance"));
    o.comparison = QStringLiteral("J102233.12+201105.0");
    o.notes = QStringLiteral("thin cloud;\r\nmoon up! ") + QString(120, QLatin1Char('x'));
    const QList<QByteArray> lines =
        aavsoExtendedFile({o}, {QStringLiteral("ABC"), QStringLiteral("Kestrove")}).split('\n');
    // A comma in the name, a semicolon and an exclamation mark in the notes: the pipe is left.
    EXPECT_EQ(lines[3], "#DELIM=|");
    EXPECT_EQ(lines[6], "#NAME|DATE|MAG|MERR|FILT|TRANS|MTYPE|CNAME|CMAG|KNAME|KMAG|AMASS|GROUP|CHART|NOTES");
    const QList<QByteArray> f = lines[7].split('|');
    ASSERT_EQ(f.size(), 15);
    EXPECT_EQ(f[0], "V* X, Her");
    EXPECT_EQ(f[1], "2460100.51235");
    EXPECT_EQ(f[2], "<14.500");
    EXPECT_EQ(f[3], "na");
    EXPECT_EQ(f[4], "CV");
    EXPECT_EQ(f[6], "DIF");
    EXPECT_EQ(f[8] + f[9] + f[10] + f[11] + f[12] + f[13], "nananananana");
    EXPECT_EQ(f[14].size(), 100);
    EXPECT_TRUE(f[14].startsWith("thin cloud;  moon up! xx"));
}

TEST(AavsoReport, FilterWheelNamesBecomeTheFormatsCodes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"V", "V"},      {"b", "B"},   {"Rc", "R"},   {"Ic", "I"},     {"", "CV"},
        {"Clear", "CV"}, {"L", "CV"},  {"Red", "TR"}, {"green", "TG"}, {"Blue", "TB"},
        {"r'", "SR"},    {"sg", "SG"}, {"Ha", "HA"},  {"OIII", "O"},
    };
    for (const auto& [wheel, code] : cases)
        EXPECT_EQ(aavsoFilter(QLatin1String(wheel)), QLatin1String(code)) << wheel;
}
