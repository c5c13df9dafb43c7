#include "host/indi/steps/FrameSaver.h"

#include "host/SkyUtil.h"
#include "host/indi/steps/CameraControl.h"
#include "host/indi/steps/PropertyNames.h"
#include "imaging/Airmass.h"
#include "imaging/FitsFile.h"
#include "imaging/ImagingError.h"
#include "text/NumberText.h"

#include "Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace kestrove::indi {

using imaging::HeaderCard;

namespace {

// "HH MM SS.ss" and "+DD MM SS.s", as cameras write OBJCTRA and OBJCTDEC.
QString sexagesimal(double value, int decimals, bool sign)
{
    const bool negative = value < 0;
    double v = std::abs(value);
    const double scale = std::pow(10.0, decimals);
    long long units = std::llround(v * 3600 * scale);
    const long long whole = units / static_cast<long long>(3600 * scale);
    units -= whole * static_cast<long long>(3600 * scale);
    const long long minutes = units / static_cast<long long>(60 * scale);
    units -= minutes * static_cast<long long>(60 * scale);
    const double seconds = static_cast<double>(units) / scale;
    QString text = QStringLiteral("%1 %2 %3")
                       .arg(whole, 2, 10, QLatin1Char('0'))
                       .arg(minutes, 2, 10, QLatin1Char('0'))
                       .arg(seconds, decimals + 3, 'f', decimals, QLatin1Char('0'));
    if (sign)
        text.prepend(negative ? u'-' : u'+');
    return text;
}

} // namespace

QString FrameSaver::save(const IndiBlob& frame, QString& error)
{
    const AcquisitionPlan& plan = m_context.plan;
    const QString folder = m_context.imageFolder();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the image folder %1").arg(folder);
        return {};
    }
    const QString extension = blobExtension(frame.format);
    if (extension.startsWith(QStringLiteral(".fits")) && !looksLikeFits(frame.data))
        m_context.log(
            {QStringLiteral("error"), plan.target, QStringLiteral("the camera's image is not FITS")});
    const QDateTime now = m_context.clock.utcNow();
    const QString filterName = filter();
    // NewOnly: an existing file is never overwritten, not even one made meanwhile.
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QString path = folder + u'/' +
                             imageFileName(plan.target, filterName, plan.binning, now,
                                           m_context.imagesSaved + 1, attempt, extension);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            error = QStringLiteral("cannot write the image %1: %2").arg(path, file.errorString());
            return {};
        }
        if (file.write(frame.data) != frame.data.size() || !file.flush()) {
            error = QStringLiteral("cannot write the image %1: %2").arg(path, file.errorString());
            return {};
        }
        file.close();
        if (extension == QStringLiteral(".fits"))
            writeHeader(path);
        return path;
    }
    error = QStringLiteral("no free image name in %1").arg(folder);
    return {};
}

void FrameSaver::writeHeader(const QString& path)
{
    const QList<HeaderCard> cards =
        targetCards() + exposureCards() + filterCards() + siteCards() + deviceCards() + originCards();
    try {
        imaging::updateFitsHeader(path, cards);
    } catch (const imaging::ImagingError& e) {
        m_context.log({QStringLiteral("error"), m_context.plan.target,
                       QStringLiteral("header not completed: ") + e.message()});
    }
}

QList<HeaderCard> FrameSaver::targetCards() const
{
    const AcquisitionPlan& plan = m_context.plan;
    const double ra = plan.rightAscension;
    const double dec = plan.declination;
    return {HeaderCard{QStringLiteral("OBJECT"), plan.target, QStringLiteral("target name")},
            HeaderCard{QStringLiteral("OBJCTRA"), sexagesimal(ra, 2, false),
                       QStringLiteral("target J2000 RA, hours")},
            HeaderCard{QStringLiteral("OBJCTDEC"), sexagesimal(dec, 1, true),
                       QStringLiteral("target J2000 Dec, degrees")},
            HeaderCard{QStringLiteral("RA"), ra * 15, QStringLiteral("target J2000 RA, degrees"), 6},
            HeaderCard{QStringLiteral("DEC"), dec, QStringLiteral("target J2000 Dec, degrees"), 6},
            HeaderCard{QStringLiteral("EQUINOX"), 2000.0, QStringLiteral("equinox of the coordinates"), 1}};
}

QList<HeaderCard> FrameSaver::exposureCards() const
{
    const QDateTime start = m_camera.exposureStart().toUTC();
    const auto binning = static_cast<long long>(m_camera.geometry().binning);
    return {
        HeaderCard{QStringLiteral("DATE-OBS"), start.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")),
                   QStringLiteral("UTC start of the exposure")},
        HeaderCard{QStringLiteral("MJD-OBS"),
                   40587.0 + static_cast<double>(start.toMSecsSinceEpoch()) / 86400000.0,
                   QStringLiteral("UTC start, modified Julian date"), 8},
        HeaderCard{QStringLiteral("EXPTIME"), m_camera.exposureSeconds(), QStringLiteral("exposure, seconds"),
                   3},
        HeaderCard{QStringLiteral("XBINNING"), binning, QStringLiteral("binning")},
        HeaderCard{QStringLiteral("YBINNING"), binning, QStringLiteral("binning")},
        HeaderCard{QStringLiteral("IMAGETYP"), QStringLiteral("Light Frame"), QStringLiteral("frame type")}};
}

QString FrameSaver::filter() const
{
    const QString& wheel = m_context.settings.indi.filterWheel;
    if (!m_context.plan.filter.isEmpty() || wheel.isEmpty())
        return m_context.plan.filter;
    const IndiProperty* slot = m_context.client.property(wheel, QStringLiteral("FILTER_SLOT"));
    const IndiProperty* names = m_context.client.property(wheel, QStringLiteral("FILTER_NAME"));
    QStringList slotNames;
    if (names)
        for (const IndiElement& e : names->elements)
            slotNames << e.text;
    return frameFilter(m_context.plan.filter, slotNames,
                       slot ? std::lround(slot->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(0)) : 0);
}

// Without a filter named, the camera's own card stands.
QList<HeaderCard> FrameSaver::filterCards() const
{
    const QString name = filter();
    if (name.isEmpty())
        return {};
    return {HeaderCard{QStringLiteral("FILTER"), name, QStringLiteral("filter")}};
}

QList<HeaderCard> FrameSaver::siteCards() const
{
    const Site& site = m_context.sky.site();
    QList<HeaderCard> cards{
        HeaderCard{QStringLiteral("SITELAT"), site.latitude, QStringLiteral("site latitude, degrees north"),
                   6},
        HeaderCard{QStringLiteral("SITELONG"), site.longitude, QStringLiteral("site longitude, degrees east"),
                   6},
        HeaderCard{QStringLiteral("SITEELEV"), site.elevation, QStringLiteral("site elevation, metres"), 1}};
    // The elevation at mid-exposure; none below 5 degrees, where the camera's own figure is no better.
    const QDateTime middle =
        m_camera.exposureStart().toUTC().addMSecs(static_cast<qint64>(m_camera.exposureSeconds() * 500));
    const AcquisitionPlan& plan = m_context.plan;
    const double elevation =
        SkyInstant(middle, site).observed(plan.rightAscension, plan.declination).elevation;
    if (const auto airmass = imaging::airmassAt(elevation))
        cards << HeaderCard{QStringLiteral("AIRMASS"), *airmass, QStringLiteral("at mid-exposure"), 4};
    else
        cards << HeaderCard::remove(QStringLiteral("AIRMASS"));
    return cards;
}

QList<HeaderCard> FrameSaver::deviceCards() const
{
    const IndiSettings& indi = m_context.settings.indi;
    const IndiClient& client = m_context.client;
    QList<HeaderCard> cards;
    if (!indi.focuser.isEmpty())
        if (const IndiProperty* p = client.property(indi.focuser, absFocus))
            if (const auto v = p->number(absFocusValue))
                cards << HeaderCard{QStringLiteral("FOCUSPOS"), static_cast<long long>(std::llround(*v)),
                                    QStringLiteral("focuser position")};
    if (const IndiProperty* p = client.property(indi.camera, QStringLiteral("CCD_TEMPERATURE")))
        if (const auto v = p->number(QStringLiteral("CCD_TEMPERATURE_VALUE")))
            cards << HeaderCard{QStringLiteral("CCD-TEMP"), *v, QStringLiteral("sensor temperature, C"), 2};
    return cards;
}

// Where the frame comes from: the survey, the plan, the program, and the sky of the last solve.
QList<HeaderCard> FrameSaver::originCards() const
{
    QList<HeaderCard> cards;
    const QString kind = m_context.surveyKind();
    if (!kind.isEmpty())
        cards << HeaderCard{QStringLiteral("SURVEY"), kind, QStringLiteral("survey kind")};
    if (!m_context.planPath.isEmpty())
        cards << HeaderCard{QStringLiteral("PLANFILE"), QFileInfo(m_context.planPath).fileName(),
                            QStringLiteral("acquisition plan")};
    cards << HeaderCard{
        QStringLiteral("SWCREATE"),
        QStringLiteral("Kestrove %1.%2.%3").arg(versionMajor).arg(versionMinor).arg(versionRevision),
        QStringLiteral("acquisition program")};
    if (const std::optional<PlateSolution>& solution = m_context.solution)
        cards << solution->wcs.carriedTo(solution->geometry, m_camera.geometry()).headerCards();
    return cards;
}

} // namespace kestrove::indi
