#pragma once

#include <cstddef>
#include <vector>

namespace kestrove::imaging {

// SEP's model of an image's sky, tiled as every measurement here tiles it: 64-pixel tiles, or a
// quarter of a small image's side, never under 16. Throws ImagingError when SEP fails.
class SepBackground
{
public:
    SepBackground(std::vector<float>& pixels, int width, int height);
    ~SepBackground();
    SepBackground(const SepBackground&) = delete;
    SepBackground& operator=(const SepBackground&) = delete;

    double level() const; // the image's global sky
    double noise() const; // and its global rms
    // Each pixel's sky, and its rms.
    std::vector<float> levels() const;
    std::vector<float> noises() const;
    // Takes each pixel's sky off `pixels`, of the image's size.
    void subtractFrom(std::vector<float>& pixels) const;

private:
    void* m_bkg = nullptr; // SEP's sep_bkg, whose header cannot be included twice
    std::size_t m_count = 0;
};

} // namespace kestrove::imaging
