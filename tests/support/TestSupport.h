#pragma once

#include "core/SurveyView.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <map>

#include <ostream>

// Readable text in the failure messages of the tests.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace kestrove::test {

// A SurveyView that records what the core showed and lets a test act during event dispatch.
class RecordingView : public SurveyView
{
public:
    void showStatus(const QString& text) override { statuses << text; }
    void showMessage(const QString& text) override { messages << text; }
    bool isKindChecked(SurveyKind kind) override { return checked[kind]; }
    QString weightText(SurveyKind kind) override
    {
        const auto it = weights.find(kind);
        return it == weights.end() ? QStringLiteral("100") : it->second;
    }
    void processEvents() override
    {
        ++eventDispatches;
        if (onProcessEvents)
            onProcessEvents();
    }
    void showRunning(bool isRunning) override { running = isRunning; }

    QString status() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    // Whether a status began with the text (the weather wait adds its reason after a colon).
    bool showed(const QString& start) const
    {
        return std::any_of(statuses.begin(), statuses.end(),
                           [&](const QString& s) { return s.startsWith(start); });
    }

    QStringList statuses;
    QStringList messages;
    std::map<SurveyKind, bool> checked;
    std::map<SurveyKind, QString> weights;
    std::function<void()> onProcessEvents;
    int eventDispatches = 0;
    bool running = false;
};

// Whole-file helpers for byte-exact checks.
QByteArray readBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& bytes);
// Lines joined with CR LF, each one ended by it.
QByteArray crlfLines(const QStringList& lines);

} // namespace kestrove::test
