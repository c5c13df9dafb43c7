#include "imaging/FitsFile.h"

#include "imaging/ImagingError.h"

#include <QFile>

#include <cmath>

#include <fitsio.h>

#include <memory>

namespace kestrove::imaging {

namespace {

QString fitsMessage(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    // The error stack holds the details; it is cleared so that the next call starts clean.
    char detail[FLEN_ERRMSG] = {};
    QString details;
    while (fits_read_errmsg(detail))
        details += u' ' + QString::fromLatin1(detail).trimmed();
    return QString::fromLatin1(text) +
           (details.isEmpty() ? QString() : QStringLiteral(" (") + details.trimmed() + u')');
}

struct Closer
{
    void operator()(fitsfile* f) const
    {
        int status = 0;
        fits_close_file(f, &status);
    }
};
using FitsPtr = std::unique_ptr<fitsfile, Closer>;

FitsImage readOpen(fitsfile* f, const QString& what)
{
    int status = 0;
    int hdutype = 0;
    int naxis = 0;
    long naxes[3] = {0, 0, 0};
    // The first HDU holding an image: a compressed file keeps it in the second.
    for (int hdu = 1; hdu <= 2; ++hdu) {
        status = 0;
        if (fits_movabs_hdu(f, hdu, &hdutype, &status))
            break;
        if (fits_get_img_dim(f, &naxis, &status) == 0 && naxis >= 2) {
            fits_get_img_size(f, 3, naxes, &status);
            break;
        }
    }
    if (status || naxis < 2 || naxes[0] <= 0 || naxes[1] <= 0)
        throw ImagingError(QStringLiteral("%1 holds no image%2")
                               .arg(what, status ? QStringLiteral(": ") + fitsMessage(status) : QString()));
    FitsImage image;
    image.width = static_cast<int>(naxes[0]);
    image.height = static_cast<int>(naxes[1]);
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    double egain = 0;
    int keyStatus = 0;
    if (fits_read_key_dbl(f, "EGAIN", &egain, nullptr, &keyStatus) == 0 && egain > 0 && std::isfinite(egain))
        image.electronsPerAdu = egain;
    fits_clear_errmsg();
    long first[3] = {1, 1, 1};
    int anyNull = 0;
    float nullValue = 0;
    if (fits_read_pix(f, TFLOAT, first, static_cast<LONGLONG>(image.pixels.size()), &nullValue,
                      image.pixels.data(), &anyNull, &status))
        throw ImagingError(QStringLiteral("cannot read the image of %1: %2").arg(what, fitsMessage(status)));
    return image;
}

} // namespace

FitsImage readFitsImage(const QByteArray& fits)
{
    // cfitsio reads the memory in place; a copy keeps the caller's data constant.
    QByteArray copy = fits;
    void* memory = copy.data();
    size_t size = static_cast<size_t>(copy.size());
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_memfile(&f, "memory", READONLY, &memory, &size, 0, nullptr, &status))
        throw ImagingError(QStringLiteral("the image is not FITS: ") + fitsMessage(status));
    FitsPtr file(f);
    return readOpen(f, QStringLiteral("the image"));
}

FitsImage readFitsImage(const QString& path)
{
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_diskfile(&f, QFile::encodeName(path).constData(), READONLY, &status))
        throw ImagingError(QStringLiteral("cannot open %1: %2").arg(path, fitsMessage(status)));
    FitsPtr file(f);
    return readOpen(f, path);
}

namespace {

void writeCards(fitsfile* f, const QList<HeaderCard>& cards, const QString& path)
{
    for (const HeaderCard& card : cards) {
        int status = 0;
        const QByteArray key = card.keyword.toLatin1();
        const QByteArray comment = card.comment.toLatin1();
        const char* c = comment.isEmpty() ? nullptr : comment.constData();
        if (std::holds_alternative<std::monostate>(card.value)) {
            fits_delete_key(f, key.constData(), &status);
            if (status == KEY_NO_EXIST) {
                status = 0;
                fits_clear_errmsg();
            }
        } else if (const bool* b = std::get_if<bool>(&card.value)) {
            int v = *b ? 1 : 0;
            fits_update_key_log(f, key.constData(), v, c, &status);
        } else if (const long long* i = std::get_if<long long>(&card.value)) {
            fits_update_key_lng(f, key.constData(), *i, c, &status);
        } else if (const double* d = std::get_if<double>(&card.value)) {
            if (card.decimals >= 0)
                fits_update_key_fixdbl(f, key.constData(), *d, card.decimals, c, &status);
            else
                fits_update_key_dbl(f, key.constData(), *d, -15, c, &status);
        } else if (const QString* s = std::get_if<QString>(&card.value)) {
            const QByteArray text = s->toLatin1();
            fits_update_key_str(f, key.constData(), text.constData(), c, &status);
        }
        if (status)
            throw ImagingError(
                QStringLiteral("cannot write %1 into %2: %3").arg(card.keyword, path, fitsMessage(status)));
    }
}

} // namespace

void updateFitsHeader(const QString& path, const QList<HeaderCard>& cards)
{
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_diskfile(&f, QFile::encodeName(path).constData(), READWRITE, &status))
        throw ImagingError(QStringLiteral("cannot open %1: %2").arg(path, fitsMessage(status)));
    FitsPtr file(f);
    writeCards(f, cards, path);
    // A checksum the camera wrote would no longer hold: it is renewed, and none is added.
    char existing[FLEN_VALUE] = {};
    if (fits_read_key(f, TSTRING, "CHECKSUM", existing, nullptr, &status) == 0) {
        if (fits_write_chksum(f, &status))
            throw ImagingError(
                QStringLiteral("cannot renew the checksum of %1: %2").arg(path, fitsMessage(status)));
    } else {
        status = 0;
        fits_clear_errmsg();
    }
    if (fits_close_file(file.release(), &status))
        throw ImagingError(QStringLiteral("cannot close %1: %2").arg(path, fitsMessage(status)));
}

QList<QPair<QString, QString>> readFitsHeader(const QString& path)
{
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_diskfile(&f, QFile::encodeName(path).constData(), READONLY, &status))
        throw ImagingError(QStringLiteral("cannot open %1: %2").arg(path, fitsMessage(status)));
    FitsPtr file(f);
    int count = 0;
    fits_get_hdrspace(f, &count, nullptr, &status);
    QList<QPair<QString, QString>> cards;
    for (int i = 1; i <= count && !status; ++i) {
        char key[FLEN_KEYWORD] = {};
        char value[FLEN_VALUE] = {};
        char comment[FLEN_COMMENT] = {};
        if (fits_read_keyn(f, i, key, value, comment, &status))
            break;
        QString text = QString::fromLatin1(value).trimmed();
        if (text.startsWith(u'\'')) {
            char unquoted[FLEN_VALUE] = {};
            int s2 = 0;
            fits_read_key(f, TSTRING, key, unquoted, nullptr, &s2);
            if (!s2)
                text = QString::fromLatin1(unquoted).trimmed();
            else
                text =
                    text.mid(1, text.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'")).trimmed();
        }
        cards.append({QString::fromLatin1(key), text});
    }
    if (status)
        throw ImagingError(QStringLiteral("cannot read the header of %1: %2").arg(path, fitsMessage(status)));
    return cards;
}

QString headerValue(const QList<QPair<QString, QString>>& header, const QString& keyword)
{
    for (const auto& card : header)
        if (card.first == keyword)
            return card.second;
    return {};
}

void writeFitsImage(const QString& path, const FitsImage& image, const QList<HeaderCard>& cards)
{
    QFile::remove(path);
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_create_diskfile(&f, QFile::encodeName(path).constData(), &status))
        throw ImagingError(QStringLiteral("cannot create %1: %2").arg(path, fitsMessage(status)));
    FitsPtr file(f);
    long naxes[2] = {image.width, image.height};
    fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
    long first[2] = {1, 1};
    fits_write_pix(f, TFLOAT, first, static_cast<LONGLONG>(image.pixels.size()),
                   const_cast<float*>(image.pixels.data()), &status);
    if (status)
        throw ImagingError(QStringLiteral("cannot write %1: %2").arg(path, fitsMessage(status)));
    writeCards(f, cards, path);
}

} // namespace kestrove::imaging
