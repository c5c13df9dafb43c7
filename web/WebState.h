#pragma once

#include "core/History.h"
#include "core/SelectionObserver.h"
#include "core/SurveyView.h"
#include "report/LogTail.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
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
    void setNightChart(const QByteArray& svg) { m_nightChart = svg; }
    const QByteArray& nightChart() const { return m_nightChart; }
    // The last image saved, by its file's name, and its thumbnail.
    void setLastImage(const QString& name, const QByteArray& png)
    {
        m_lastImage = name;
        m_thumbnail = png;
    }
    const QByteArray& thumbnail() const { return m_thumbnail; }

    // The JSON of /api/status, /api/history, /api/log, /api/preview and /api/frames: the last
    // keptFrames frames of the last 24 hours with their grades, newest first, and the strip of
    // all their HFRs and star counts, oldest first.
    QJsonObject status() const;
    QJsonObject history() const;
    QJsonObject frames() const;
    QJsonObject log(qint64 after) const;
    QJsonObject preview() const;

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
    QString m_lastImage;
    QByteArray m_thumbnail; // lines read since the start; the last one is number m_logCount
};

QJsonObject pickJson(const WebState::Pick& pick);

} // namespace kestrove
