#pragma once

#include <QString>

#include <stdexcept>

namespace kestrove::imaging {

// A failure of the image work: a file that cfitsio cannot read or write, a solver that cannot start.
class ImagingError : public std::runtime_error
{
public:
    explicit ImagingError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

} // namespace kestrove::imaging
