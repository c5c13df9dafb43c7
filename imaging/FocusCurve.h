#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace kestrove::imaging {

// One point of a focus run: a focuser position and what its exposure showed.
struct FocusPoint
{
    int position = 0;
    double hfr = 0; // median half-flux radius, pixels; 0 when too few stars were measured
    int stars = 0;

    bool valid() const { return hfr > 0; }
};

// HFR² = a·(x - x0)² + c, fitted by least squares on the points around the lowest one.
struct FocusFit
{
    bool fitted = false; // a curve that opens upward was found
    double a = 0;
    double bestPosition = 0; // x0
    double minimumHfr = 0;   // sqrt(c)
    double r2 = 0;           // of HFR², on the points fitted
    int pointsUsed = 0;
    QString why; // when not fitted
};

// Least squares of HFR² as a quadratic in position over the points given (valid ones only).
FocusFit fitFocusCurve(const std::vector<FocusPoint>& points);

// The V-curve sweep of a focus run, without devices: which position to measure next, and when
// the curve is done. Out `stepsOut` steps from the start, then inward one step at a time to as
// far on the other side; when the lowest point lacks `neighbours` measured points on one side, the
// sweep goes on that way (the falling direction), within `maxTravel` of the start.
class FocusSweep
{
public:
    FocusSweep(int start, int step, int stepsOut, int maxTravel, int lowest = 0, int highest = 1 << 30);

    static constexpr int neighbours = 2;

    int start() const { return m_start; }
    // The position to measure next; none when the curve is complete (or can go no further).
    std::optional<int> next() const;
    void add(const FocusPoint& point);
    const std::vector<FocusPoint>& points() const { return m_points; }
    // The points in position order.
    std::vector<FocusPoint> sorted() const;
    // Whether the lowest point has its neighbours on both sides.
    bool bracketed() const;
    // The points the fit takes: the lowest and as many on each side as both sides have, at least
    // `neighbours` (and at most `stepsOut`).
    std::vector<FocusPoint> window() const;
    // Why the sweep stopped unbracketed, for the log; empty when bracketed.
    QString unbracketedReason() const;

private:
    int m_start;
    int m_step;
    int m_stepsOut;
    int m_maxTravel;
    int m_lowest;
    int m_highest;
    std::vector<FocusPoint> m_points;
    std::vector<int> m_plan; // the first sweep's positions, in order
};

// A small SVG chart of a focus run: HFR against position, the fitted curve and its minimum.
QString focusChartSvg(const std::vector<FocusPoint>& points, const FocusFit& fit, const QString& title);

} // namespace kestrove::imaging
