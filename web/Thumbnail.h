#pragma once

#include "imaging/FitsFile.h"

#include <QByteArray>
#include <QString>

namespace kestrove {

// A PNG of the image for a phone's screen: at most `maxSide` pixels a side, stretched from the
// 0.5th to the 99.5th percentile so that faint stars show, the first row at the bottom as FITS
// viewers show it.
QByteArray thumbnailPng(const imaging::FitsImage& image, int maxSide = 320);

// The image file of the acquisition log's last "image" line; empty when it has none.
QString lastImageOf(const QByteArray& acquisitionLog);

} // namespace kestrove
