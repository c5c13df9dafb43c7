#pragma once

#include <QString>

namespace kestrove {

enum class SurveyKind
{
    SNe = 1,
    MPS = 2,
    MPF = 3,
    SLC = 4
};

// "SNe", "MPS", "MPF", "SLC".
inline QString kindText(SurveyKind kind)
{
    switch (kind) {
    case SurveyKind::SNe:
        return QStringLiteral("SNe");
    case SurveyKind::MPS:
        return QStringLiteral("MPS");
    case SurveyKind::MPF:
        return QStringLiteral("MPF");
    case SurveyKind::SLC:
        return QStringLiteral("SLC");
    }
    return {};
}

// What the survey core needs from whoever shows it: the main window, a headless run, or a test.
class SurveyView
{
public:
    virtual ~SurveyView() = default;
    // Replaces the one line of status text.
    virtual void showStatus(const QString& text) = 0;
    // A modal message with only OK, titled "Kestrove"; returns when it has been closed.
    virtual void showMessage(const QString& text) = 0;
    // The live enable check box and weight box of a survey kind.
    virtual bool isKindChecked(SurveyKind kind) = 0;
    virtual QString weightText(SurveyKind kind) = 0;
    // Dispatches pending window events, so that the stop buttons and dialogs work during a run.
    virtual void processEvents() = 0;
    // Start disabled and both stop buttons enabled while running; the reverse when idle.
    virtual void showRunning(bool running) = 0;
};

} // namespace kestrove
