#include "web/Thumbnail.h"

#include <QBuffer>
#include <QImage>
#include <QList>

#include <algorithm>
#include <cmath>

namespace kestrove {

QByteArray thumbnailPng(const imaging::FitsImage& image, int maxSide)
{
    if (image.width <= 0 || image.height <= 0 || maxSide <= 0)
        return {};
    const int step = std::max(1, (std::max(image.width, image.height) + maxSide - 1) / maxSide);
    const int width = image.width / step;
    const int height = image.height / step;
    if (width <= 0 || height <= 0)
        return {};

    // Each thumbnail pixel is the mean of its block: a star between sampling points is kept, and
    // the sky's noise shrinks with the block.
    std::vector<float> binned(static_cast<size_t>(width) * height);
    std::vector<float> sample;
    sample.reserve(binned.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double sum = 0;
            int count = 0;
            for (int by = 0; by < step; ++by)
                for (int bx = 0; bx < step; ++bx)
                    if (const float v = image.at(x * step + bx, y * step + by); std::isfinite(v)) {
                        sum += v;
                        ++count;
                    }
            const float mean = count ? static_cast<float>(sum / count) : std::nanf("");
            binned[static_cast<size_t>(y) * width + x] = mean;
            if (count)
                sample.push_back(mean);
        }
    if (sample.empty())
        return {};
    const auto percentile = [&](double p) {
        auto at = sample.begin() + static_cast<std::ptrdiff_t>(p * static_cast<double>(sample.size() - 1));
        std::nth_element(sample.begin(), at, sample.end());
        return *at;
    };
    // The sky and its noise from the median and the median absolute deviation: stars hardly move
    // them, where a percentile of a frame of few stars lands in the noise.
    const float sky = percentile(0.5);
    const float top = percentile(0.9995);
    const float brightest = *std::max_element(sample.begin(), sample.end());
    for (float& v : sample)
        v = std::abs(v - sky);
    const float noise = std::max(1.4826f * percentile(0.5), 1e-6f);
    // Black a little below the sky, an asinh that is linear for the noise and logarithmic for the
    // stars, white at the brightest few pixels, or at the brightest where a few stars are fewer
    // pixels than that and the few brightest are the sky's noise.
    const double black = sky - noise;
    const double soft = 3.0 * noise;
    const double white =
        std::max<double>({top, std::min<double>(brightest, sky + 20 * noise), black + noise});
    const double scale = std::asinh((white - black) / soft);

    QImage picture(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const float v = binned[static_cast<size_t>(y) * width + x];
            const double t =
                std::isfinite(v) ? std::clamp(std::asinh((v - black) / soft) / scale, 0.0, 1.0) : 0.0;
            row[x] = static_cast<uchar>(std::lround(t * 255));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

QString lastImageOf(const QByteArray& acquisitionLog)
{
    const QList<QByteArray> lines = acquisitionLog.split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const QList<QByteArray> fields = line->trimmed().split('\t');
        if (fields.size() >= 3 && fields[1] == "image")
            return QString::fromLatin1(fields.last());
    }
    return {};
}

} // namespace kestrove
