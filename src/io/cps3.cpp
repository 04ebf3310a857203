#include "io/cps3.hpp"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <optional>

#include "io/text.hpp"

namespace vz::cps3 {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Numbers of the white-space tokens of `s` that parse; the others dropped.
template <class F>
void for_numbers(std::string_view s, F&& f) {
    std::size_t i = 0, n = s.size();
    while (i < n) {
        while (i < n && text::is_space(s[i])) ++i;
        std::size_t b = i;
        while (i < n && !text::is_space(s[i])) ++i;
        if (i > b)
            if (auto v = text::parse_number(s.substr(b, i - b))) f(*v);
    }
}

// Truncation toward zero into an unsigned count: negatives and NaN give 0,
// values beyond the range the largest count.
std::uint64_t to_count(double v) {
    if (!(v > 0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

bool is_null(double v, double null_value) {
    if (std::isnan(v)) return true;
    if (std::fabs(v) >= 1e29) return true;
    return std::fabs(v - null_value) <= 1e-9 * std::fabs(null_value);
}

}  // namespace

std::vector<double> header_numbers(std::string_view line) {
    std::vector<double> out;
    std::size_t i = 0;
    while (i < line.size() && !text::is_space(line[i])) ++i;  // the keyword
    for_numbers(line.substr(i), [&](double v) { out.push_back(v); });
    return out;
}

void push_values(std::string_view line, std::vector<double>& values) {
    for_numbers(line, [&](double v) { values.push_back(v); });
}

std::vector<double> line_numbers(std::string_view line) {
    std::vector<double> out;
    for_numbers(line, [&](double v) { out.push_back(v); });
    return out;
}

Result<SurfaceData> read_grid(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    std::optional<std::pair<std::uint64_t, std::uint64_t>> rowcol;  // (nrow, ncol)
    std::optional<std::array<double, 4>> limits;
    std::optional<std::pair<double, double>> inc;
    double null_value = 1e30;
    std::vector<double> values;
    bool in_data = false;

    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.starts_with("->")) {
            in_data = true;
            continue;
        }
        if (in_data) {
            push_values(l, values);
            continue;
        }
        if (!l.starts_with("FS") && !l.starts_with("FF")) continue;
        std::size_t e = 0;
        while (e < l.size() && !text::is_space(l[e])) ++e;
        std::string_view key = l.substr(0, e);
        auto nums = header_numbers(l);
        if (key == "FSNROW" && nums.size() >= 2) rowcol = std::pair{to_count(nums[0]), to_count(nums[1])};
        if (key == "FSLIMI" && nums.size() >= 4) limits = std::array<double, 4>{nums[0], nums[1], nums[2], nums[3]};
        if (key == "FSXINC" && nums.size() >= 2) inc = std::pair{nums[0], nums[1]};
        if (key == "FSASCI" && !nums.empty()) null_value = nums.back();
    }
    if (!rowcol) return fail(Error::parse("CPS-3 grid: missing FSNROW"));
    if (!limits) return fail(Error::parse("CPS-3 grid: missing FSLIMI"));
    const auto [nrow, ncol] = *rowcol;
    if (nrow == 0 || ncol == 0) return fail(Error::parse("CPS-3 grid: zero node count"));
    const auto [xmin, xmax, ymin, ymax] = *limits;
    double xinc = (inc && inc->first > 0) ? inc->first : (ncol < 2 ? 1.0 : (xmax - xmin) / static_cast<double>(ncol - 1));
    double yinc = (inc && inc->second > 0) ? inc->second : (nrow < 2 ? 1.0 : (ymax - ymin) / static_cast<double>(nrow - 1));
    std::uint64_t count = 0;
    if (__builtin_mul_overflow(nrow, ncol, &count)) return fail(Error::parse("CPS-3 grid: nrow*ncol overflows"));
    // Missing trailing values are legitimately null, so the header's count is
    // bounded by the file instead: at most 64 nodes per byte of file (plus a
    // margin for tiny files) are allocated.
    const std::uint64_t limit = static_cast<std::uint64_t>(bytes.size()) * 64 + (1u << 20);
    if (count > limit)
        return fail(Error::parse(fmt::format("CPS-3 grid: {} nodes is more than the file can describe", count)));

    const std::size_t nc = static_cast<std::size_t>(ncol), nr = static_cast<std::size_t>(nrow);
    Grid2 grid(nc, nr, kNaN);
    const std::size_t used = std::min<std::size_t>(values.size(), static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < used; ++k) {
        double v = values[k];
        grid(k % nc, k / nc) = is_null(v, null_value) ? kNaN : v;
    }
    GridGeometry geom{xmin, ymin, xinc, yinc, ncol, nrow, 0.0, false};
    return SurfaceData::make(geom, std::move(grid));
}

Result<PolygonRings> read_lines(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    PolygonRings out;
    std::optional<std::vector<std::array<double, 3>>> open;
    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.starts_with("->")) {
            if (open) out.push_back(std::move(*open));
            open.emplace();
            continue;
        }
        if (!open || l.starts_with("FS") || l.starts_with("FF") || l.front() == '#') continue;
        auto nums = line_numbers(l);
        if (nums.size() >= 3) open->push_back({nums[0], nums[1], nums[2]});
    }
    if (open) out.push_back(std::move(*open));
    return out;
}

}  // namespace vz::cps3
