#include "report/NightLightcurve.h"

#include "imaging/Ensemble.h"

#include <map>

namespace kestrove {

namespace {

using Role = database::InstrumentalMagnitude::Role;

std::optional<imaging::Magnitude> magnitudeOf(const database::InstrumentalMagnitude& m)
{
    if (!m.magnitude || !m.error || !(*m.error > 0))
        return std::nullopt;
    return imaging::Magnitude{*m.magnitude, *m.error};
}

void solveGroup(std::vector<database::LightcurvePoint>& points, const std::vector<size_t>& group,
                QStringList* notes)
{
    QStringList names;
    std::vector<std::optional<double>> catalogue;
    bool standard = true;
    for (size_t index : group) {
        const database::LightcurvePoint& p = points[index];
        standard = standard && p.standard;
        for (const database::InstrumentalMagnitude& m : p.instrumental)
            if (m.role == Role::Comparison && !names.contains(m.star)) {
                names << m.star;
                catalogue.push_back(m.reference);
            }
    }
    std::vector<imaging::NightFrame> frames;
    for (size_t index : group) {
        imaging::NightFrame frame;
        frame.comparisons.resize(static_cast<size_t>(names.size()));
        for (const database::InstrumentalMagnitude& m : points[index].instrumental) {
            if (m.role == Role::Target)
                frame.target = magnitudeOf(m);
            else if (m.role == Role::Check)
                frame.check = magnitudeOf(m);
            else
                frame.comparisons[static_cast<size_t>(names.indexOf(m.star))] = magnitudeOf(m);
        }
        frames.push_back(frame);
    }
    const imaging::NightLightcurve solved =
        imaging::solveNight(frames, standard ? catalogue : std::vector<std::optional<double>>{});
    for (size_t f = 0; f < group.size(); ++f) {
        database::LightcurvePoint& p = points[group[f]];
        if (!solved.target[f])
            continue;
        p.magnitude = solved.target[f]->value;
        p.error = solved.target[f]->error;
        p.checkMagnitude = solved.check[f] ? std::optional(solved.check[f]->value) : std::nullopt;
        p.checkError = solved.check[f] ? std::optional(solved.check[f]->error) : std::nullopt;
        QStringList used;
        for (qsizetype i = 0; i < names.size(); ++i)
            if (solved.kept[static_cast<size_t>(i)] && frames[f].comparisons[static_cast<size_t>(i)])
                used << names[i];
        p.comparisons = used.join(u';');
    }
    if (notes)
        for (qsizetype i = 0; i < names.size(); ++i) {
            const size_t c = static_cast<size_t>(i);
            if (!solved.kept[c])
                *notes << QStringLiteral("%1 %2: comparison %3 dropped for the night, its scatter %4 mag "
                                         "against the others where its errors allow %5")
                              .arg(points[group.front()].target, points[group.front()].filter, names[i],
                                   QString::number(solved.scatter[c], 'f', 3),
                                   QString::number(solved.expected[c], 'f', 3));
        }
}

} // namespace

std::vector<database::LightcurvePoint> solvedLightcurve(std::vector<database::LightcurvePoint> points,
                                                        QStringList* notes)
{
    std::map<std::pair<QString, QString>, std::vector<size_t>> groups;
    for (size_t i = 0; i < points.size(); ++i) {
        const auto& stars = points[i].instrumental;
        if (std::any_of(stars.begin(), stars.end(),
                        [](const database::InstrumentalMagnitude& m) { return m.role == Role::Target; }))
            groups[{points[i].target, points[i].filter}].push_back(i);
    }
    for (const auto& [key, group] : groups)
        solveGroup(points, group, notes);
    return points;
}

} // namespace kestrove
