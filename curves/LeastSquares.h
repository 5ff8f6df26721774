#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>

namespace zelvar::curves {

// The coefficients of a linear least-squares fit and their covariance,
// estimated from the residuals.
template <std::size_t N>
struct Solution {
    std::array<double, N> b{};
    std::array<std::array<double, N>, N> covariance{};
    double residualSigma = 0.0; // the residuals' standard deviation
    std::size_t points = 0;
};

// y ≈ Σ b_j x_j, accumulated point by point. Scale the x to order one for a
// well-conditioned solve.
template <std::size_t N>
class NormalEquations {
public:
    void add(const std::array<double, N>& x, double y, double weight = 1.0)
    {
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t c = 0; c < N; ++c)
                ata_[r][c] += weight * x[r] * x[c];
            aty_[r] += weight * x[r] * y;
        }
        yty_ += weight * y * y;
        ++points_;
    }

    std::size_t points() const { return points_; }

    // None when the points cannot fix every coefficient.
    std::optional<Solution<N>> solve() const
    {
        // Gauss-Jordan on [AᵀA | I], partial pivoting: the inverse gives the
        // coefficients and their covariance at once.
        std::array<std::array<double, 2 * N>, N> m{};
        double largest = 0.0;
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t c = 0; c < N; ++c)
                m[r][c] = ata_[r][c];
            m[r][N + r] = 1.0;
            largest = std::max(largest, std::abs(ata_[r][r]));
        }
        if (points_ < N || largest == 0.0)
            return std::nullopt;
        for (std::size_t col = 0; col < N; ++col) {
            std::size_t pivot = col;
            for (std::size_t r = col + 1; r < N; ++r) {
                if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                    pivot = r;
            }
            if (std::abs(m[pivot][col]) <= 1e-12 * largest)
                return std::nullopt;
            std::swap(m[pivot], m[col]);
            const double d = m[col][col];
            for (std::size_t k = 0; k < 2 * N; ++k)
                m[col][k] /= d;
            for (std::size_t r = 0; r < N; ++r) {
                if (r == col)
                    continue;
                const double f = m[r][col];
                for (std::size_t k = 0; k < 2 * N; ++k)
                    m[r][k] -= f * m[col][k];
            }
        }
        Solution<N> s;
        s.points = points_;
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t c = 0; c < N; ++c)
                s.b[r] += m[r][N + c] * aty_[c];
        }
        double rss = yty_;
        for (std::size_t r = 0; r < N; ++r)
            rss -= s.b[r] * aty_[r];
        const double variance = points_ > N ? std::max(0.0, rss) / static_cast<double>(points_ - N) : 0.0;
        s.residualSigma = std::sqrt(variance);
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t c = 0; c < N; ++c)
                s.covariance[r][c] = variance * m[r][N + c];
        }
        return s;
    }

private:
    std::array<std::array<double, N>, N> ata_{};
    std::array<double, N> aty_{};
    double yty_ = 0.0;
    std::size_t points_ = 0;
};

} // namespace zelvar::curves
