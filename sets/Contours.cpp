#include "sets/Contours.h"

#include <array>
#include <cmath>
#include <unordered_map>

namespace zelvar::sets {

namespace {

// A crossing sits on one grid edge, and the two cells either side of that
// edge both end a piece of line there: the edge's number joins them.
// Horizontal edges (column, row)-(column + 1, row) are even, vertical ones
// (column, row)-(column, row + 1) odd.
std::size_t horizontalEdge(const Grid& g, std::size_t column, std::size_t row)
{
    return 2 * (row * g.columns() + column);
}

std::size_t verticalEdge(const Grid& g, std::size_t column, std::size_t row)
{
    return 2 * (row * g.columns() + column) + 1;
}

struct Crossing {
    std::size_t edge = 0;
    ContourPoint at;
};

struct Piece {
    Crossing a, b;
};

// Where the value crosses `level` between two grid points.
ContourPoint between(ContourPoint p, double vp, ContourPoint q, double vq, double level)
{
    const double t = vq == vp ? 0.5 : (level - vp) / (vq - vp);
    return {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
}

std::vector<Piece> cellPieces(const Grid& g, double level)
{
    std::vector<Piece> pieces;
    if (g.columns() < 2 || g.rows() < 2 || g.values.size() != g.columns() * g.rows())
        return pieces;
    for (std::size_t r = 0; r + 1 < g.rows(); ++r) {
        for (std::size_t c = 0; c + 1 < g.columns(); ++c) {
            // Corners counter-clockwise from the bottom left; edges 0 bottom,
            // 1 right, 2 top, 3 left, edge k from corner k to corner k + 1.
            const std::array<ContourPoint, 4> p{
                {{g.x[c], g.y[r]}, {g.x[c + 1], g.y[r]}, {g.x[c + 1], g.y[r + 1]}, {g.x[c], g.y[r + 1]}}};
            const std::array<double, 4> v{g.at(c, r), g.at(c + 1, r), g.at(c + 1, r + 1), g.at(c, r + 1)};
            bool missing = false;
            for (double value : v)
                missing = missing || std::isnan(value);
            if (missing)
                continue;
            const std::array<std::size_t, 4> edges{horizontalEdge(g, c, r), verticalEdge(g, c + 1, r),
                                                   horizontalEdge(g, c, r + 1), verticalEdge(g, c, r)};
            unsigned mask = 0;
            for (unsigned k = 0; k < 4; ++k)
                mask |= (v[k] >= level ? 1u : 0u) << k;
            if (mask == 0 || mask == 15)
                continue;
            const auto crossing = [&](unsigned edge) {
                const unsigned from = edge, to = (edge + 1) % 4;
                return Crossing{edges[edge], between(p[from], v[from], p[to], v[to], level)};
            };
            const auto piece = [&](unsigned e1, unsigned e2) { pieces.push_back({crossing(e1), crossing(e2)}); };
            // The edges crossed are those whose two corners differ.
            std::vector<unsigned> crossed;
            for (unsigned k = 0; k < 4; ++k) {
                if (((mask >> k) & 1u) != ((mask >> ((k + 1) % 4)) & 1u))
                    crossed.push_back(k);
            }
            if (crossed.size() == 2) {
                piece(crossed[0], crossed[1]);
                continue;
            }
            // A saddle: corners 0 and 2 on one side, 1 and 3 on the other.
            // Where the cell's mean is on the side of corner 0, the line
            // keeps corners 1 and 3 apart from it.
            const double centre = (v[0] + v[1] + v[2] + v[3]) / 4.0;
            const bool centreLikeCorner0 = (centre >= level) == ((mask & 1u) != 0);
            if (centreLikeCorner0) {
                piece(0, 1); // cuts off corner 1
                piece(2, 3); // cuts off corner 3
            } else {
                piece(3, 0); // cuts off corner 0
                piece(1, 2); // cuts off corner 2
            }
        }
    }
    return pieces;
}

} // namespace

std::vector<ContourLine> contourLines(const Grid& grid, double level)
{
    const std::vector<Piece> pieces = cellPieces(grid, level);
    // Each edge is the end of at most two pieces.
    std::unordered_map<std::size_t, std::array<long, 2>> atEdge;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        for (const Crossing* end : {&pieces[k].a, &pieces[k].b}) {
            auto [it, added] = atEdge.try_emplace(end->edge, std::array<long, 2>{-1, -1});
            (it->second[0] < 0 ? it->second[0] : it->second[1]) = static_cast<long>(k);
        }
    }
    const auto other = [&](std::size_t edge, std::size_t piece) -> long {
        const std::array<long, 2>& two = atEdge.at(edge);
        return two[0] == static_cast<long>(piece) ? two[1] : two[0];
    };
    std::vector<bool> used(pieces.size(), false);
    std::vector<ContourLine> lines;
    // Follows the pieces from `start` out through its end `edge`, appending
    // each next crossing; true when the line came back to where it began.
    const auto follow = [&](std::size_t start, std::size_t edge, std::vector<ContourPoint>& out) {
        std::size_t piece = start;
        for (;;) {
            const long next = other(edge, piece);
            if (next < 0)
                return false;
            if (used[static_cast<std::size_t>(next)])
                return static_cast<std::size_t>(next) == start;
            piece = static_cast<std::size_t>(next);
            used[piece] = true;
            const Piece& p = pieces[piece];
            const Crossing& far = p.a.edge == edge ? p.b : p.a;
            out.push_back(far.at);
            edge = far.edge;
        }
    };
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        if (used[k])
            continue;
        used[k] = true;
        ContourLine line;
        line.level = level;
        std::vector<ContourPoint> forward{pieces[k].a.at, pieces[k].b.at};
        line.closed = follow(k, pieces[k].b.edge, forward);
        if (line.closed) {
            // The walk ended on the first crossing again: the line's last
            // point is its first.
            line.points = std::move(forward);
        } else {
            std::vector<ContourPoint> backward;
            follow(k, pieces[k].a.edge, backward);
            line.points.assign(backward.rbegin(), backward.rend());
            line.points.insert(line.points.end(), forward.begin(), forward.end());
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<double> contourLevels(double lowest, double highest, double step, std::size_t maxLevels)
{
    std::vector<double> levels;
    if (!(step > 0.0) || !(highest > lowest) || maxLevels == 0 || !std::isfinite(lowest) || !std::isfinite(highest))
        return levels;
    static constexpr double kFactors[] = {1.0, 2.0, 5.0};
    for (double decade = 1.0;; decade *= 10.0) {
        for (double factor : kFactors) {
            const double s = step * factor * decade;
            levels.clear();
            for (double level = std::floor(lowest / s + 1.0) * s; level < highest; level += s)
                levels.push_back(level);
            if (levels.size() <= maxLevels)
                return levels;
        }
    }
}

} // namespace zelvar::sets
