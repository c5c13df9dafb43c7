#include "host/indi/IndiMapping.h"
#include "sky/Astronomy.h"
#include "support/TestSite.h"

#include <gtest/gtest.h>

using namespace kestrove;
using namespace kestrove::indi;

namespace {

double arcsecondsApart(const Equatorial& a, const Equatorial& b)
{
    return separation(a.rightAscension, a.declination, b.rightAscension, b.declination) * 3600;
}

} // namespace

// Apparent places of date (true equator and equinox, geocentric) computed once with astropy 5.2
// (ICRS -> TETE).
TEST(IndiMapping, JNowMatchesAstropyAndComesBack)
{
    const struct
    {
        const char* utc;
        Equatorial j2000;
        Equatorial jnow;
    } cases[] = {
        {"2026-12-07T22:00:00Z", {5.5, 20.0}, {5.527194724, 20.021384343}},
        {"2030-06-01T03:00:00Z", {18.25, -45.5}, {18.288309705, -45.486264478}},
        {"2024-04-14T09:10:00Z", {0.05, 85.0}, {0.066582372, 85.132256019}},
        // Across 0h: the right ascension wraps.
        {"2026-12-07T22:00:00Z", {23.99, -10.0}, {0.013267765, -9.849484106}},
    };
    for (const auto& c : cases) {
        const QDateTime t = test::utc(c.utc);
        const Equatorial jnow = j2000ToJnow(c.j2000, t);
        EXPECT_LT(arcsecondsApart(jnow, c.jnow), 1.0) << c.utc << " " << c.j2000.rightAscension;
        EXPECT_LT(arcsecondsApart(jnowToJ2000(c.jnow, t), c.j2000), 1.0) << c.utc;
        EXPECT_LT(arcsecondsApart(jnowToJ2000(jnow, t), c.j2000), 0.001) << c.utc;
    }
}

TEST(IndiMapping, CommandEndsOnlyAfterBusy)
{
    using S = PropertyState;
    using R = CommandWatch::Result;
    const struct
    {
        std::vector<S> updates;
        R result;
    } cases[] = {
        {{S::Ok}, R::Pending}, // the old state, before the command was taken
        {{S::Ok, S::Busy}, R::Pending}, {{S::Ok, S::Busy, S::Busy, S::Ok}, R::Done},
        {{S::Busy, S::Idle}, R::Done},  {{S::Busy, S::Alert}, R::Failed},
        {{S::Alert}, R::Failed},
    };
    for (const auto& c : cases) {
        CommandWatch watch;
        watch.sent();
        R last = R::Pending;
        for (S s : c.updates)
            last = watch.update(s);
        EXPECT_EQ(last, c.result) << c.updates.size();
    }
}

TEST(IndiMapping, CentredSubframe)
{
    const struct
    {
        int width, height;
        double fraction;
        Frame frame;
    } cases[] = {
        {1280, 1024, 1, {0, 0, 1280, 1024}},
        {1280, 1024, 0.5, {320, 256, 640, 512}},
        {1280, 1024, 0.25, {480, 384, 320, 256}},
        {1001, 999, 0.5, {250, 249, 501, 500}},
        {1280, 1024, 0, {0, 0, 1280, 1024}},
        {1280, 1024, 1.5, {0, 0, 1280, 1024}},
        {10, 10, 0.01, {4, 4, 1, 1}},
    };
    for (const auto& c : cases) {
        const Frame f = centredFrame(c.width, c.height, c.fraction);
        EXPECT_EQ(f.x, c.frame.x) << c.fraction;
        EXPECT_EQ(f.y, c.frame.y) << c.fraction;
        EXPECT_EQ(f.width, c.frame.width) << c.fraction;
        EXPECT_EQ(f.height, c.frame.height) << c.fraction;
    }
}

TEST(IndiMapping, WeatherFiltersAndServer)
{
    EXPECT_TRUE(weatherSafe(true, PropertyState::Ok));
    for (auto s : {PropertyState::Busy, PropertyState::Alert, PropertyState::Idle})
        EXPECT_FALSE(weatherSafe(true, s));
    EXPECT_FALSE(weatherSafe(false, PropertyState::Ok));
    EXPECT_FALSE(weatherSafe(true, std::nullopt));

    const QStringList names{"Red", "Green", "Blue", "R"};
    EXPECT_EQ(filterSlot(names, "R"), 4);
    EXPECT_EQ(filterSlot(names, "Red"), 1);
    EXPECT_EQ(filterSlot(names, "red"), std::nullopt);

    const struct
    {
        const char* text;
        const char* host;
        int port;
    } servers[] = {
        {"localhost:7624", "localhost", 7624},
        {"observatory.local", "observatory.local", 7624},
        {" 127.0.0.1 : 17000 ", "127.0.0.1", 17000},
        {"host:0", nullptr, 0},
        {"host:70000", nullptr, 0},
        {"host:x", nullptr, 0},
        {":7624", nullptr, 0},
    };
    for (const auto& s : servers) {
        const auto a = parseServerAddress(QString::fromLatin1(s.text));
        ASSERT_EQ(a.has_value(), s.host != nullptr) << s.text;
        if (a) {
            EXPECT_EQ(a->host, QString::fromLatin1(s.host));
            EXPECT_EQ(a->port, s.port);
        }
    }
    EXPECT_DOUBLE_EQ(slewLimitSeconds(60, 2.5, 30), 54);
}

TEST(IndiMapping, OnlyTheUpperMeridianTurnsTheMountOver)
{
    const struct
    {
        double from, to;
        bool flip;
    } slews[] = {
        {-0.1, 0.1, true}, {0.1, -0.1, true}, {23.9, 0.1, true}, {-0.1, 24.1, true},
        {0.1, 3, false},   {-3, -0.1, false}, {11, 13, false},   {-5, 7, false},
    };
    for (const auto& s : slews)
        EXPECT_EQ(crossesMeridian(s.from, s.to), s.flip) << s.from << " to " << s.to;
}

// A frame's name and FILTER card carry the filter it was taken through, whether the plan named it
// or the wheel only stood at it.
TEST(IndiMapping, AFrameTellsTheFilterItWasTakenThrough)
{
    const QStringList wheel{"Red", " Green ", "Blue"};
    const struct
    {
        const char* plan;
        QStringList slotNames;
        long slot;
        const char* filter;
    } cases[] = {
        {"Red", wheel, 2, "Red"}, {"", wheel, 2, "Green"}, {"", wheel, 0, ""},
        {"", wheel, 4, ""},       {"", {}, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(frameFilter(c.plan, c.slotNames, c.slot), c.filter) << c.plan << " at slot " << c.slot;
}

TEST(IndiMapping, ImageNamesAreSafeAndNeverRepeat)
{
    const QDateTime t = test::utc("2026-12-07T22:15:30Z");
    EXPECT_EQ(imageFileName("SN2026abc", "Red", 2, t, 1, 1, ".fits"),
              "SN2026abc-20261207T221530Z-Red-2x2-001.fits");
    EXPECT_EQ(imageFileName("SN2026abc", "", 1, t, 12, 3, ".fits"),
              "SN2026abc-20261207T221530Z-1x1-012-3.fits");
    // Separators and traversal in a target name stay inside the folder.
    EXPECT_EQ(imageFileName("../a b/c", "H/a", 1, t, 1, 1, ".fits"),
              "_.._a_b_c-20261207T221530Z-H_a-1x1-001.fits");
    EXPECT_NE(imageFileName("T", "", 1, t, 1, 1, ".fits"), imageFileName("T", "", 1, t, 1, 2, ".fits"));

    EXPECT_EQ(blobExtension(".fits"), ".fits");
    EXPECT_EQ(blobExtension("fits.fz"), ".fits.fz");
    EXPECT_EQ(blobExtension(""), ".fits");
    EXPECT_EQ(blobExtension("../x"), ".fits");

    QByteArray fits = "SIMPLE  =                    T";
    fits.resize(2880, ' ');
    EXPECT_TRUE(looksLikeFits(fits));
    EXPECT_FALSE(looksLikeFits("SIMPLE  = T"));
    EXPECT_FALSE(looksLikeFits(QByteArray(2880, ' ')));
}
