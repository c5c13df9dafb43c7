#pragma once

#include "imaging/FitsFile.h"

#include <QByteArray>
#include <QString>

namespace kestrove {

// A PNG of the image for a phone's screen: at most `maxSide` pixels a side, each the mean of its
// block, with an asinh stretch from just below the sky so that faint stars show on a dark sky, the
// first row at the bottom as FITS viewers show it.
QByteArray thumbnailPng(const imaging::FitsImage& image, int maxSide = 320);
// The side of the larger picture the page shows on demand.
constexpr int largeImageSide = 1024;

// The image file of the acquisition log's last "image" line; empty when it has none.
QString lastImageOf(const QByteArray& acquisitionLog);

} // namespace kestrove
