#include "imaging/FocusCurve.h"

#include <algorithm>
#include <cmath>

namespace kestrove::imaging {

FocusFit fitFocusCurve(const std::vector<FocusPoint>& points)
{
    FocusFit fit;
    std::vector<FocusPoint> used;
    for (const FocusPoint& p : points)
        if (p.valid())
            used.push_back(p);
    fit.pointsUsed = static_cast<int>(used.size());
    if (used.size() < 4) {
        fit.why = QStringLiteral("%1 points with stars, 4 needed").arg(used.size());
        return fit;
    }
    // Centred and scaled positions keep the normal equations well conditioned.
    double mean = 0;
    for (const FocusPoint& p : used)
        mean += p.position;
    mean /= static_cast<double>(used.size());
    double span = 0;
    for (const FocusPoint& p : used)
        span = std::max(span, std::abs(p.position - mean));
    if (span <= 0) {
        fit.why = QStringLiteral("all points at one position");
        return fit;
    }
    // y = p0 + p1 u + p2 u², u = (x - mean) / span.
    double s[5] = {0, 0, 0, 0, 0};
    double t[3] = {0, 0, 0};
    for (const FocusPoint& p : used) {
        const double u = (p.position - mean) / span;
        const double y = p.hfr * p.hfr;
        double power = 1;
        for (int k = 0; k < 5; ++k) {
            s[k] += power;
            if (k < 3)
                t[k] += power * y;
            power *= u;
        }
    }
    double m[3][4] = {{s[0], s[1], s[2], t[0]}, {s[1], s[2], s[3], t[1]}, {s[2], s[3], s[4], t[2]}};
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int row = col + 1; row < 3; ++row)
            if (std::abs(m[row][col]) > std::abs(m[pivot][col]))
                pivot = row;
        if (std::abs(m[pivot][col]) < 1e-12) {
            fit.why = QStringLiteral("the points do not determine a curve");
            return fit;
        }
        std::swap(m[col], m[pivot]);
        for (int row = 0; row < 3; ++row) {
            if (row == col)
                continue;
            const double f = m[row][col] / m[col][col];
            for (int k = col; k < 4; ++k)
                m[row][k] -= f * m[col][k];
        }
    }
    const double p0 = m[0][3] / m[0][0];
    const double p1 = m[1][3] / m[1][1];
    const double p2 = m[2][3] / m[2][2];

    double meanY = 0;
    for (const FocusPoint& p : used)
        meanY += p.hfr * p.hfr;
    meanY /= static_cast<double>(used.size());
    double residual = 0;
    double total = 0;
    for (const FocusPoint& p : used) {
        const double u = (p.position - mean) / span;
        const double y = p.hfr * p.hfr;
        const double model = p0 + p1 * u + p2 * u * u;
        residual += (y - model) * (y - model);
        total += (y - meanY) * (y - meanY);
    }
    fit.r2 = total > 0 ? 1 - residual / total : 0;
    if (!(p2 > 0)) {
        fit.why = QStringLiteral("the curve opens downward: no minimum");
        return fit;
    }
    const double u0 = -p1 / (2 * p2);
    const double c = p0 - p1 * p1 / (4 * p2);
    fit.a = p2 / (span * span);
    fit.bestPosition = mean + u0 * span;
    if (!(c > 0)) {
        fit.why = QStringLiteral("the fitted minimum HFR is not positive");
        return fit;
    }
    fit.minimumHfr = std::sqrt(c);
    fit.fitted = true;
    return fit;
}

FocusSweep::FocusSweep(int start, int step, int stepsOut, int maxTravel, int lowest, int highest)
    : m_start(start), m_step(std::max(1, step)), m_stepsOut(std::max(1, stepsOut)), m_maxTravel(maxTravel),
      m_lowest(lowest), m_highest(highest)
{
    for (int i = m_stepsOut; i >= -m_stepsOut; --i) {
        const int position = m_start + i * m_step;
        if (position >= m_lowest && position <= m_highest)
            m_plan.push_back(position);
    }
}

void FocusSweep::add(const FocusPoint& point)
{
    m_points.push_back(point);
}

std::vector<FocusPoint> FocusSweep::sorted() const
{
    std::vector<FocusPoint> s = m_points;
    std::sort(s.begin(), s.end(), [](const FocusPoint& a, const FocusPoint& b) { return a.position < b.position; });
    return s;
}

namespace {

// Index of the lowest valid point in position order; -1 when none.
int lowestIndex(const std::vector<FocusPoint>& s)
{
    int best = -1;
    for (int i = 0; i < static_cast<int>(s.size()); ++i)
        if (s[i].valid() && (best < 0 || s[i].hfr < s[best].hfr))
            best = i;
    return best;
}

int validBelow(const std::vector<FocusPoint>& s, int index)
{
    int n = 0;
    for (int i = 0; i < index; ++i)
        n += s[i].valid() ? 1 : 0;
    return n;
}

int validAbove(const std::vector<FocusPoint>& s, int index)
{
    int n = 0;
    for (int i = index + 1; i < static_cast<int>(s.size()); ++i)
        n += s[i].valid() ? 1 : 0;
    return n;
}

} // namespace

bool FocusSweep::bracketed() const
{
    const std::vector<FocusPoint> s = sorted();
    const int best = lowestIndex(s);
    return best >= 0 && validBelow(s, best) >= neighbours && validAbove(s, best) >= neighbours;
}

std::optional<int> FocusSweep::next() const
{
    if (m_points.size() < m_plan.size())
        return m_plan[m_points.size()];
    const std::vector<FocusPoint> s = sorted();
    const int best = lowestIndex(s);
    if (best < 0 || bracketed())
        return std::nullopt;
    // Onward in the falling direction, past the end of the sweep on the lowest point's side.
    const int position = validBelow(s, best) < neighbours ? s.front().position - m_step : s.back().position + m_step;
    if (std::abs(position - m_start) > m_maxTravel || position < m_lowest || position > m_highest)
        return std::nullopt;
    return position;
}

std::vector<FocusPoint> FocusSweep::window() const
{
    std::vector<FocusPoint> valid;
    for (const FocusPoint& p : sorted())
        if (p.valid())
            valid.push_back(p);
    const int best = lowestIndex(valid);
    if (best < 0)
        return {};
    const int size = static_cast<int>(valid.size());
    int half = std::min(best, size - 1 - best);
    half = std::max(half, neighbours);
    half = std::min(half, m_stepsOut);
    const int from = std::max(0, best - half);
    const int to = std::min(size - 1, best + half);
    return {valid.begin() + from, valid.begin() + to + 1};
}

QString FocusSweep::unbracketedReason() const
{
    if (bracketed())
        return {};
    const std::vector<FocusPoint> s = sorted();
    const int best = lowestIndex(s);
    if (best < 0)
        return QStringLiteral("no frame showed stars");
    return QStringLiteral("the lowest HFR stays at the %1 end of the sweep within %2 units of the start")
        .arg(validBelow(s, best) < neighbours ? QStringLiteral("inner") : QStringLiteral("outer"))
        .arg(m_maxTravel);
}

QString focusChartSvg(const std::vector<FocusPoint>& unsorted, const FocusFit& fit, const QString& title)
{
    std::vector<FocusPoint> points;
    for (const FocusPoint& p : unsorted)
        if (p.valid())
            points.push_back(p);
    std::sort(points.begin(), points.end(),
              [](const FocusPoint& a, const FocusPoint& b) { return a.position < b.position; });
    const double width = 480, height = 320, left = 60, right = 20, top = 36, bottom = 44;
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                                 "viewBox=\"0 0 %1 %2\" font-family=\"sans-serif\" font-size=\"11\">\n"
                                 "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n")
                      .arg(width)
                      .arg(height);
    QString safeTitle = title.toHtmlEscaped();
    svg += QStringLiteral("<text x=\"%1\" y=\"20\" text-anchor=\"middle\" font-size=\"13\">%2</text>\n")
               .arg(width / 2)
               .arg(safeTitle);
    if (points.empty()) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">no stars</text>\n</svg>\n")
                   .arg(width / 2)
                   .arg(height / 2);
        return svg;
    }
    double x0 = points.front().position, x1 = points.back().position;
    double y1 = 0;
    for (const FocusPoint& p : points)
        y1 = std::max(y1, p.hfr);
    if (x1 <= x0)
        x1 = x0 + 1;
    y1 *= 1.1;
    const auto px = [&](double x) { return left + (x - x0) / (x1 - x0) * (width - left - right); };
    const auto py = [&](double y) { return height - bottom - y / y1 * (height - top - bottom); };
    svg += QStringLiteral("<path d=\"M%1 %2 V%3 H%4\" fill=\"none\" stroke=\"black\"/>\n")
               .arg(left)
               .arg(top)
               .arg(height - bottom)
               .arg(width - right);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">focuser position (%3 to %4)</text>\n")
               .arg(width / 2)
               .arg(height - 10)
               .arg(x0)
               .arg(x1);
    svg += QStringLiteral("<text x=\"14\" y=\"%1\" transform=\"rotate(-90 14 %1)\" text-anchor=\"middle\">"
                          "HFR (px, 0 to %2)</text>\n")
               .arg(height / 2)
               .arg(y1, 0, 'f', 2);
    if (fit.fitted) {
        QString path;
        for (int i = 0; i <= 100; ++i) {
            const double x = x0 + (x1 - x0) * i / 100.0;
            const double y2 = fit.a * (x - fit.bestPosition) * (x - fit.bestPosition) + fit.minimumHfr * fit.minimumHfr;
            const double y = std::min(std::sqrt(std::max(0.0, y2)), y1);
            path += QStringLiteral("%1%2 %3 ").arg(i == 0 ? QLatin1Char('M') : QLatin1Char('L')).arg(px(x), 0, 'f', 1).arg(py(y), 0, 'f', 1);
        }
        svg += QStringLiteral("<path d=\"%1\" fill=\"none\" stroke=\"steelblue\"/>\n").arg(path.trimmed());
        if (fit.bestPosition >= x0 && fit.bestPosition <= x1)
            svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" stroke=\"red\" "
                                  "stroke-dasharray=\"4 3\"/>\n")
                       .arg(px(fit.bestPosition), 0, 'f', 1)
                       .arg(top)
                       .arg(height - bottom);
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" fill=\"red\">best %3, HFR %4, R² %5</text>\n")
                   .arg(left + 8)
                   .arg(top + 12)
                   .arg(std::lround(fit.bestPosition))
                   .arg(fit.minimumHfr, 0, 'f', 2)
                   .arg(fit.r2, 0, 'f', 3);
    }
    for (const FocusPoint& p : points)
        svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"black\"><title>%3: HFR %4, %5 stars"
                              "</title></circle>\n")
                   .arg(px(p.position), 0, 'f', 1)
                   .arg(py(p.hfr), 0, 'f', 1)
                   .arg(p.position)
                   .arg(p.hfr, 0, 'f', 2)
                   .arg(p.stars);
    svg += QStringLiteral("</svg>\n");
    return svg;
}

} // namespace kestrove::imaging
