#pragma once

#include "imaging/Wcs.h"

#include "imaging/FieldMagnitudes.h"
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>

#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace kestrove::imaging {

// What astrometry.net's solve-field is asked.
struct SolveRequest
{
    QString imagePath;
    QString workDir;                      // its outputs; a folder of its own
    QString indexFolder;                  // holds index-*.fits
    std::optional<double> rightAscension; // hint, J2000 degrees
    std::optional<double> declination;
    double radius = 5;           // degrees around the hint
    std::optional<double> scale; // arcseconds per pixel; the search spans ±20 % of it
    double cpuLimit = 30;        // seconds of CPU time solve-field may spend
};

struct SolveResult
{
    bool solved = false;
    QString reason; // why not, for the log: sources found, limits, the program's last words
    Wcs wcs;
    double rightAscension = 0; // image centre, J2000 degrees
    double declination = 0;
    double seconds = 0; // wall time the solver took
    int width = 0;      // image size solve-field saw
    int height = 0;
    int sources = -1; // stars extracted; -1: not reported
    // The index's stars in the field with their catalogue magnitudes (solve-field's --rdls with
    // --tag-all): what a frame's magnitudes are put on the catalogue's scale with. Empty when the
    // index holds no magnitudes.
    std::vector<FieldStar> catalogue;
};

// Runs solve-field as a QProcess: start() returns at once, finished() comes from the event loop.
// solve-field exits 0 when it does not solve: the verdict is read from its ".solved" and ".wcs"
// files. It gets a CPU limit, and is killed past a wall-time limit of twice that plus 30 s.
class SolveField : public QObject
{
    Q_OBJECT

public:
    explicit SolveField(QObject* parent = nullptr);
    ~SolveField() override;

    // solve-field's path on PATH; empty when it is not installed.
    static QString executable();
    // The folder of index files to use: `configured` when it names one, else the first of
    // Debian's /usr/share/astrometry and the usual /usr/local places that holds index-*.fits;
    // empty when none. `why` tells which, or what was missing.
    static QString findIndexFolder(const QString& configured, QString* why = nullptr);
    // The arguments solve-field is given (and the config file written into the work folder).
    static QStringList arguments(const SolveRequest& request, const QString& configPath);

    void start(const SolveRequest& request);
    bool running() const { return m_process != nullptr; }
    // Ends a running solve without a finished() signal.
    void cancel();

signals:
    void finished(const kestrove::imaging::SolveResult& result);

private:
    void done(int exitCode, QProcess::ExitStatus status);

    std::unique_ptr<QProcess> m_process;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    SolveRequest m_request;
    QByteArray m_output;
    bool m_timedOut = false;
};

} // namespace kestrove::imaging
