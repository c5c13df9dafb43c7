#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace kestrove::imaging {

// The first image of a FITS file as floats (BZERO/BSCALE applied), row by row as stored.
struct FitsImage
{
    int width = 0;
    int height = 0;
    std::vector<float> pixels; // width * height
    // The camera's gain as its EGAIN card gives it; none without one. (A GAIN card is a driver's
    // gain setting, in units of its own.)
    std::optional<double> electronsPerAdu;

    float at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Throw ImagingError when the data or the file is not a FITS image cfitsio can read.
FitsImage readFitsImage(const QByteArray& fits);
FitsImage readFitsImage(const QString& path);

// A header card to set: a value, or none to remove the keyword (a value that is not known must
// not stay behind from the camera).
struct HeaderCard
{
    using Value = std::variant<std::monostate, bool, long long, double, QString>;
    QString keyword;
    Value value;
    QString comment;
    int decimals = -1; // for a double: digits after the point (fixed); -1: cfitsio's %G of 15 digits

    static HeaderCard remove(const QString& keyword) { return {keyword, std::monostate{}, {}}; }
};

// Sets the cards in the primary header of a FITS file in place, through cfitsio: each replaces the
// keyword where the header has it and is appended where not; the data are untouched. Throws
// ImagingError naming the file and cfitsio's message.
void updateFitsHeader(const QString& path, const QList<HeaderCard>& cards);

// The primary header's keywords and values as text (strings without their quotes), in order.
QList<QPair<QString, QString>> readFitsHeader(const QString& path);
// The value of one keyword in such a list, or empty.
QString headerValue(const QList<QPair<QString, QString>>& header, const QString& keyword);

// Writes a 32-bit float image (for tests and the focus frames kept for inspection).
void writeFitsImage(const QString& path, const FitsImage& image, const QList<HeaderCard>& cards = {});

} // namespace kestrove::imaging
