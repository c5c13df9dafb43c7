#pragma once

#include "core/History.h"
#include "core/SelectionObserver.h"
#include "core/SurveyView.h"
#include "host/ObservatoryStatus.h"
#include "report/LogTail.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace kestrove {

class SurveyCore;

// What the window shows, kept for the web page: stands between the survey core and its view (every
// call is passed on) and watches the selection, so the window, a headless run and the page read the
// same state. Everything here runs on the survey's thread.
class WebState : public SurveyView, public SelectionObserver
{
public:
    explicit WebState(SurveyView& shown) : m_shown(shown) {}
    ~WebState() override;

    // Watches the core's selection, passing each call on to the observer it had.
    void attach(SurveyCore& core);
    // Told when the core shows that a run started or ended.
    std::function<void(bool running)> onRunning;

    void showStatus(const QString& text) override;
    void showMessage(const QString& text) override;
    bool isKindChecked(SurveyKind kind) override { return m_shown.isKindChecked(kind); }
    QString weightText(SurveyKind kind) override { return m_shown.weightText(kind); }
    void processEvents() override { m_shown.processEvents(); }
    void showRunning(bool running) override;

    void passStarted(const QDateTime& utc) override;
    void rejected(SurveyKind kind, const QString& targetLine, Outcome rule) override;
    void scored(SurveyKind kind, const QString& targetLine, float score) override;
    void kindBest(SurveyKind kind, const QString& targetLine, float score, float weightedScore) override;
    void passChosen(bool found, SurveyKind kind, const QString& targetLine, float weightedScore) override;
    void planRefused(SurveyKind kind, const QString& targetLine) override;
    void planHandedOver(SurveyKind kind, const QString& targetLine, const QDateTime& startUtc,
                        std::optional<double> expectedSeconds) override;

    // Reads the lines the survey log gained; called about once a second.
    void followLog();
    // The survey's "history.csv"; empty before the core is loaded.
    QString historyFile() const;

    // The night chart as SVG, drawn elsewhere; empty until there is one.
    void setNightChart(const QByteArray& svg, const QByteArray& png)
    {
        m_nightChart = svg;
        m_nightPicture = png;
    }
    const QByteArray& nightChart() const { return m_nightChart; }
    // The page shows the picture: Qt's SVG writer does not clip, so the drawing's lines run past
    // the plot.
    const QByteArray& nightPicture() const { return m_nightPicture; }
    // Each lightcurve star of the night with its plots of the night and of every night, as PNG.
    struct LightcurvePictures
    {
        QString target;
        QByteArray night;
        QByteArray all;
    };
    void setLightcurves(QList<LightcurvePictures> pictures) { m_lightcurves = std::move(pictures); }
    // The plot of a star; none when the star has none tonight.
    const QByteArray* lightcurvePicture(const QString& target, bool allNights) const;
    // The JSON of /api/lightcurves: the stars, in the order they were first measured tonight.
    QJsonObject lightcurves() const;
    // The last image saved, by its file's name, and its thumbnail.
    void setLastImage(const QString& name, const QByteArray& png, const QByteArray& large = {})
    {
        m_lastImage = name;
        m_thumbnail = png;
        m_largeImage = large;
    }
    const QByteArray& thumbnail() const { return m_thumbnail; }
    // The same image at a larger size, for a closer look.
    const QByteArray& largeImage() const { return m_largeImage; }

    // The JSON of /api/status, /api/history, /api/log, /api/preview and /api/frames: the last
    // keptFrames frames of the last 24 hours with their grades, newest first, and the strip of
    // all their HFRs and star counts, oldest first.
    QJsonObject status() const;
    QJsonObject history() const;
    QJsonObject frames() const;
    QJsonObject log(qint64 after) const;
    QJsonObject preview() const;
    // The JSON of /api/discoveries: the candidates and movers of the last 24 hours, newest first
    // (WebDiscoveries.cpp).
    QJsonObject discoveries() const;
    // A candidate's cut-out ("reference", "new" or "difference") as PNG; empty when there is none.
    QByteArray cutout(qint64 candidateId, const QString& kind) const;
    // The log folder, where the database sits beside history.csv; empty before the core is loaded.
    QString logFolder() const;

    struct Pick
    {
        SurveyKind kind;
        QString target;
        float score; // weighted
    };
    static constexpr int keptLogLines = 500;
    static constexpr int keptFrames = 20;

private:
    SurveyView& m_shown;
    SurveyCore* m_core = nullptr;
    SelectionObserver* m_next = nullptr;
    QString m_status;
    QString m_message; // the last message box
    bool m_running = false;
    qint64 m_passes = 0;
    QDateTime m_passUtc;
    QList<Pick> m_best;    // of the pass under way
    QList<Pick> m_winners; // of the last pass
    std::optional<Pick> m_current;
    LogTail m_logTail;
    QStringList m_logLines; // the last keptLogLines lines
    qint64 m_logCount = 0;
    QByteArray m_nightChart;
    QByteArray m_nightPicture;
    QList<LightcurvePictures> m_lightcurves;
    QString m_lastImage;
    QByteArray m_thumbnail; // lines read since the start; the last one is number m_logCount
    QByteArray m_largeImage;
    // The site, the Sun and the weather as the window's panel shows them; made again for each run,
    // which may have made its observatory again from the saved settings.
    mutable std::unique_ptr<ObservatoryStatus> m_observatory;
    mutable Host* m_observatoryHost = nullptr;
};

QJsonObject pickJson(const WebState::Pick& pick);

} // namespace kestrove
