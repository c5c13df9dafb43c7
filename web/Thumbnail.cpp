#include "web/Thumbnail.h"

#include <QBuffer>
#include <QImage>
#include <QList>

#include <algorithm>
#include <cmath>

namespace kestrove {

QByteArray thumbnailPng(const imaging::FitsImage& image, int maxSide)
{
    if (image.width <= 0 || image.height <= 0)
        return {};
    const int step = std::max(1, (std::max(image.width, image.height) + maxSide - 1) / maxSide);
    const int width = image.width / step;
    const int height = image.height / step;
    if (width <= 0 || height <= 0)
        return {};

    std::vector<float> sample;
    sample.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (const float v = image.at(x * step, y * step); std::isfinite(v))
                sample.push_back(v);
    if (sample.empty())
        return {};
    const auto percentile = [&](double p) {
        auto at = sample.begin() + static_cast<std::ptrdiff_t>(p * static_cast<double>(sample.size() - 1));
        std::nth_element(sample.begin(), at, sample.end());
        return *at;
    };
    const float low = percentile(0.005);
    const float high = percentile(0.995);
    const float range = high > low ? high - low : 1;

    QImage picture(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const float v = image.at(x * step, y * step);
            const double t = std::isfinite(v) ? std::clamp((v - low) / range, 0.0f, 1.0f) : 0.0;
            // A square root lifts the faint end, as a display stretch does.
            row[x] = static_cast<uchar>(std::lround(std::sqrt(t) * 255));
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
