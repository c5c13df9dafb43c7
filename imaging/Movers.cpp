#include "imaging/Movers.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>

namespace kestrove::imaging {

namespace {

// A detection on the tangent plane of the set's field, arcseconds east and north.
struct Point
{
    double xi = 0;
    double eta = 0;
    int source = 0;
    bool used = false;
};

// The usable detections of one frame, in cells of a grid for the searches near a predicted place.
struct Layer
{
    int frame = 0;
    double time = 0; // seconds
    std::vector<Point> points;
    std::unordered_map<long long, std::vector<int>> cells;
    double cell = 1;

    static long long key(long long cx, long long cy) { return cx * 2'000'003LL + cy; }

    void build(double size)
    {
        cell = size;
        for (size_t i = 0; i < points.size(); ++i)
            cells[key(static_cast<long long>(std::floor(points[i].xi / cell)),
                      static_cast<long long>(std::floor(points[i].eta / cell)))]
                .push_back(static_cast<int>(i));
    }

    // The nearest unused point within `radius` (at most the cell size) of a place, or -1.
    int nearest(double xi, double eta, double radius) const
    {
        const auto cx = static_cast<long long>(std::floor(xi / cell));
        const auto cy = static_cast<long long>(std::floor(eta / cell));
        int best = -1;
        double bestDistance = radius;
        for (long long dx = -1; dx <= 1; ++dx)
            for (long long dy = -1; dy <= 1; ++dy) {
                const auto it = cells.find(key(cx + dx, cy + dy));
                if (it == cells.end())
                    continue;
                for (int i : it->second) {
                    const Point& p = points[static_cast<size_t>(i)];
                    const double d = std::hypot(p.xi - xi, p.eta - eta);
                    if (!p.used && d <= bestDistance) {
                        best = i;
                        bestDistance = d;
                    }
                }
            }
        return best;
    }
};

// A detection of a track: its layer and its point there.
struct Member
{
    int layer;
    int point;
};

struct Path
{
    double xi = 0, eta = 0;   // at the mean time
    double vxi = 0, veta = 0; // arcseconds a second
    double meanTime = 0;
    double residual = 0;
    size_t worst = 0;

    double rate() const { return std::hypot(vxi, veta) * 60; }
};

Path fitPath(const std::vector<Layer>& layers, const std::vector<Member>& members)
{
    Path p;
    for (const Member& m : members)
        p.meanTime += layers[static_cast<size_t>(m.layer)].time;
    p.meanTime /= static_cast<double>(members.size());
    double stt = 0, sx = 0, sy = 0, stx = 0, sty = 0;
    for (const Member& m : members) {
        const Layer& l = layers[static_cast<size_t>(m.layer)];
        const Point& q = l.points[static_cast<size_t>(m.point)];
        const double t = l.time - p.meanTime;
        stt += t * t;
        sx += q.xi;
        sy += q.eta;
        stx += t * q.xi;
        sty += t * q.eta;
    }
    const double n = static_cast<double>(members.size());
    p.xi = sx / n;
    p.eta = sy / n;
    p.vxi = stt > 0 ? stx / stt : 0;
    p.veta = stt > 0 ? sty / stt : 0;
    for (size_t i = 0; i < members.size(); ++i) {
        const Layer& l = layers[static_cast<size_t>(members[i].layer)];
        const Point& q = l.points[static_cast<size_t>(members[i].point)];
        const double t = l.time - p.meanTime;
        const double d = std::hypot(q.xi - (p.xi + p.vxi * t), q.eta - (p.eta + p.veta * t));
        if (d >= p.residual) {
            p.residual = d;
            p.worst = i;
        }
    }
    return p;
}

} // namespace

std::vector<Mover> linkMovers(const std::vector<SourceList>& frames, const std::vector<double>& times,
                              const DiscoverySettings& settings)
{
    std::vector<Mover> movers;
    const size_t n = frames.size();
    if (n < 3 || times.size() != n ||
        std::any_of(frames.begin(), frames.end(), [](const SourceList& f) { return !f.wcs; }))
        return movers;

    double pixel = 0;
    for (const SourceList& f : frames)
        pixel = std::max(pixel, f.scale());
    // A star's place wanders by its centroid's error and the solves' differences: a pixel at least.
    const double still = std::max(settings.linkResidual, pixel);
    // Where a detection between two others is looked for: the prediction carries both ends' errors.
    const double search = 2 * settings.linkResidual;
    const SkyPoint centre{frames.front().wcs->crval1, frames.front().wcs->crval2};

    std::vector<SkyIndex> everything;
    for (const SourceList& f : frames) {
        std::vector<SkyPoint> places;
        for (const SkySource& s : f.sources)
            places.push_back(s.place());
        everything.emplace_back(places);
    }

    std::vector<Layer> layers(n);
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return times[a] < times[b]; });
    for (size_t l = 0; l < n; ++l) {
        const size_t f = order[l];
        Layer& layer = layers[l];
        layer.frame = static_cast<int>(f);
        layer.time = times[f];
        const SourceList& list = frames[f];
        for (size_t i = 0; i < list.sources.size(); ++i) {
            const SkySource& s = list.sources[i];
            if (s.snr < settings.minSnr || s.saturated || s.atEdge || isSharp(s, list))
                continue;
            // At one place in another frame is a star, whether or not the noise let every frame
            // find it: a faint star missed once must not be linked with its neighbours.
            bool stationary = false;
            for (size_t g = 0; g < n && !stationary; ++g)
                if (g != f && everything[g].nearest(s.place(), still) >= 0)
                    stationary = true;
            if (stationary)
                continue;
            Point p;
            tangentOffsets(centre, s.place(), p.xi, p.eta);
            p.source = static_cast<int>(i);
            layer.points.push_back(p);
        }
        layer.build(search);
    }

    auto accept = [&](std::vector<Member> members) -> bool {
        Path path = fitPath(layers, members);
        while (path.residual > settings.linkResidual && members.size() > 3) {
            members.erase(members.begin() + static_cast<long>(path.worst));
            path = fitPath(layers, members);
        }
        if (members.size() < 3 || path.residual > settings.linkResidual || path.rate() < settings.minRate ||
            path.rate() > settings.maxRate)
            return false;
        // Frames the span left out may show it too.
        for (size_t l = 0; l < n; ++l) {
            if (std::any_of(members.begin(), members.end(),
                            [&](const Member& m) { return m.layer == static_cast<int>(l); }))
                continue;
            const double t = layers[l].time - path.meanTime;
            const int q =
                layers[l].nearest(path.xi + path.vxi * t, path.eta + path.veta * t, settings.linkResidual);
            if (q < 0)
                continue;
            std::vector<Member> more = members;
            more.push_back({static_cast<int>(l), q});
            const Path wider = fitPath(layers, more);
            if (wider.residual <= settings.linkResidual) {
                members = std::move(more);
                path = wider;
            }
        }
        std::sort(members.begin(), members.end(),
                  [](const Member& a, const Member& b) { return a.layer < b.layer; });
        Mover mover;
        mover.rate = path.rate();
        mover.direction = std::fmod(std::atan2(path.vxi, path.veta) * 180 / std::numbers::pi + 360, 360);
        mover.residual = path.residual;
        double mag = 0;
        int magnitudes = 0;
        for (const Member& m : members) {
            Layer& layer = layers[static_cast<size_t>(m.layer)];
            Point& point = layer.points[static_cast<size_t>(m.point)];
            point.used = true;
            const SkySource& s =
                frames[static_cast<size_t>(layer.frame)].sources[static_cast<size_t>(point.source)];
            mover.detections.push_back({layer.frame, point.source, layer.time, s.ra, s.dec, s.mag});
            if (std::isfinite(s.mag)) {
                mag += s.mag;
                ++magnitudes;
            }
        }
        if (magnitudes > 0)
            mover.mag = mag / magnitudes;
        movers.push_back(std::move(mover));
        return true;
    };

    // The spans, longest first: a mover seen in every frame is found whole before its parts could be.
    for (size_t span = n - 1; span >= 2; --span)
        for (size_t i = 0; i + span < n; ++i) {
            const size_t j = i + span;
            Layer& first = layers[i];
            const Layer& last = layers[j];
            const double minutes = (last.time - first.time) / 60;
            if (!(minutes > 0))
                continue;
            for (size_t a = 0; a < first.points.size(); ++a) {
                if (first.points[a].used)
                    continue;
                const Point& pa = first.points[a];
                // Every end in reach, each with the detections between that fit its line; the
                // fullest and straightest is tried first.
                std::vector<std::pair<std::vector<Member>, double>> tracks;
                for (size_t b = 0; b < last.points.size(); ++b) {
                    const Point& pb = last.points[b];
                    if (pb.used)
                        continue;
                    const double distance = std::hypot(pb.xi - pa.xi, pb.eta - pa.eta);
                    if (distance < settings.minRate * minutes - search ||
                        distance > settings.maxRate * minutes + search)
                        continue;
                    std::vector<Member> members{{static_cast<int>(i), static_cast<int>(a)}};
                    for (size_t k = i + 1; k < j; ++k) {
                        const double f = (layers[k].time - first.time) / (last.time - first.time);
                        const int q = layers[k].nearest(pa.xi + f * (pb.xi - pa.xi),
                                                        pa.eta + f * (pb.eta - pa.eta), search);
                        if (q >= 0)
                            members.push_back({static_cast<int>(k), q});
                    }
                    members.push_back({static_cast<int>(j), static_cast<int>(b)});
                    if (members.size() >= 3)
                        tracks.emplace_back(members, fitPath(layers, members).residual);
                }
                std::sort(tracks.begin(), tracks.end(), [](const auto& x, const auto& y) {
                    return x.first.size() != y.first.size() ? x.first.size() > y.first.size()
                                                            : x.second < y.second;
                });
                for (const auto& track : tracks)
                    if (accept(track.first))
                        break;
            }
        }
    return movers;
}

} // namespace kestrove::imaging
