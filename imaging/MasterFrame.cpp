#include "imaging/MasterFrame.h"

#include "imaging/ImagingError.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace kestrove::imaging {

QString masterKindText(MasterKind kind)
{
    switch (kind) {
    case MasterKind::Bias:
        return QStringLiteral("bias");
    case MasterKind::Dark:
        return QStringLiteral("dark");
    case MasterKind::Flat:
        return QStringLiteral("flat");
    }
    return {};
}

std::optional<MasterKind> parseMasterKind(const QString& text)
{
    for (MasterKind kind : {MasterKind::Bias, MasterKind::Dark, MasterKind::Flat})
        if (masterKindText(kind) == text)
            return kind;
    return std::nullopt;
}

FitsImage medianCombine(const std::vector<FitsImage>& frames)
{
    if (frames.empty())
        throw ImagingError(QStringLiteral("no frames to combine"));
    FitsImage master;
    master.width = frames.front().width;
    master.height = frames.front().height;
    for (const FitsImage& f : frames)
        if (f.width != master.width || f.height != master.height)
            throw ImagingError(QStringLiteral("frames of %1x%2 and %3x%4 pixels cannot be combined")
                                   .arg(master.width)
                                   .arg(master.height)
                                   .arg(f.width)
                                   .arg(f.height));
    const size_t n = frames.size();
    master.pixels.resize(static_cast<size_t>(master.width) * master.height);
    std::vector<float> column(n);
    for (size_t i = 0; i < master.pixels.size(); ++i) {
        for (size_t k = 0; k < n; ++k)
            column[k] = frames[k].pixels[i];
        const auto middle = column.begin() + static_cast<std::ptrdiff_t>(n / 2);
        std::nth_element(column.begin(), middle, column.end());
        float value = *middle;
        if (n % 2 == 0)
            value = (value + *std::max_element(column.begin(), middle)) / 2;
        master.pixels[i] = value;
    }
    return master;
}

FitsImage croppedImage(const FitsImage& image, int x, int y, int width, int height)
{
    if (x == 0 && y == 0 && width == image.width && height == image.height)
        return image;
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > image.width || y + height > image.height)
        throw ImagingError(QStringLiteral("%1x%2 pixels from (%3, %4) do not lie within the master's %5x%6")
                               .arg(width)
                               .arg(height)
                               .arg(x)
                               .arg(y)
                               .arg(image.width)
                               .arg(image.height));
    FitsImage out;
    out.width = width;
    out.height = height;
    out.pixels.reserve(static_cast<size_t>(width) * height);
    for (int row = y; row < y + height; ++row) {
        const auto start = image.pixels.begin() + static_cast<std::ptrdiff_t>(row) * image.width + x;
        out.pixels.insert(out.pixels.end(), start, start + width);
    }
    return out;
}

double meanOf(const FitsImage& image)
{
    double sum = 0;
    for (float v : image.pixels)
        sum += v;
    return image.pixels.empty() ? 0 : sum / static_cast<double>(image.pixels.size());
}

double medianOf(const FitsImage& image)
{
    if (image.pixels.empty())
        return 0;
    std::vector<float> copy = image.pixels;
    const auto middle = copy.begin() + static_cast<std::ptrdiff_t>(copy.size() / 2);
    std::nth_element(copy.begin(), middle, copy.end());
    return *middle;
}

FitsImage calibratedImage(const FitsImage& raw, const FitsImage* darkOrBias, const FitsImage* flat)
{
    const auto check = [&](const FitsImage* master, const char* what) {
        if (master && (master->width != raw.width || master->height != raw.height))
            throw ImagingError(QStringLiteral("the %1 master is %2x%3 pixels, the frame %4x%5")
                                   .arg(QString::fromLatin1(what))
                                   .arg(master->width)
                                   .arg(master->height)
                                   .arg(raw.width)
                                   .arg(raw.height));
    };
    check(darkOrBias, "dark or bias");
    check(flat, "flat");
    FitsImage out = raw;
    if (darkOrBias)
        for (size_t i = 0; i < out.pixels.size(); ++i)
            out.pixels[i] -= darkOrBias->pixels[i];
    if (flat) {
        const double mean = meanOf(*flat);
        if (mean > 0)
            for (size_t i = 0; i < out.pixels.size(); ++i)
                if (flat->pixels[i] > 0)
                    out.pixels[i] = static_cast<float>(out.pixels[i] * mean / flat->pixels[i]);
    }
    return out;
}

QString masterFileName(const MasterSetting& s, const QDateTime& utc)
{
    QStringList parts{masterKindText(s.kind)};
    if (s.kind != MasterKind::Bias)
        parts << QString::number(s.exposure, 'g', 6) + u's';
    parts << QStringLiteral("bin%1").arg(s.binning);
    if (s.temperature) {
        const long t = std::lround(*s.temperature);
        parts << (t < 0 ? QStringLiteral("m%1C").arg(-t) : QStringLiteral("%1C").arg(t));
    }
    if (s.kind == MasterKind::Flat && !s.filter.isEmpty()) {
        QString filter = s.filter;
        for (QChar& c : filter)
            if (!c.isLetterOrNumber())
                c = u'_';
        parts << filter;
    }
    parts << utc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    return parts.join(u'-') + QStringLiteral(".fits");
}

QString calibratedPath(const QString& rawPath)
{
    const QFileInfo info(rawPath);
    const QString base = info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + QStringLiteral("-cal.") +
                               (info.suffix().isEmpty() ? QStringLiteral("fits") : info.suffix()));
}

FitsImage calibrateFrame(const FitsImage& raw, const QString& rawPath, const FrameCalibration& masters)
{
    const auto part = [&](const QString& path) {
        return croppedImage(readFitsImage(path), masters.x, masters.y, raw.width, raw.height);
    };
    std::optional<FitsImage> dark;
    std::optional<FitsImage> flat;
    QList<HeaderCard> cards;
    if (!masters.darkPath.isEmpty()) {
        dark = part(masters.darkPath);
        cards << HeaderCard{masters.bias ? QStringLiteral("BIASFILE") : QStringLiteral("DARKFILE"),
                            QFileInfo(masters.darkPath).fileName(), QStringLiteral("master subtracted")};
    }
    if (!masters.flatPath.isEmpty()) {
        flat = part(masters.flatPath);
        cards << HeaderCard{QStringLiteral("FLATFILE"), QFileInfo(masters.flatPath).fileName(),
                            QStringLiteral("master divided by, scaled to a mean of 1")};
    }
    FitsImage out = calibratedImage(raw, dark ? &*dark : nullptr, flat ? &*flat : nullptr);
    writeFitsImageLike(calibratedPath(rawPath), out, rawPath, cards);
    return out;
}

} // namespace kestrove::imaging
