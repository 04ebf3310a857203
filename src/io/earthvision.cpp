#include "io/earthvision.hpp"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "foundation/format.hpp"
#include "io/text.hpp"

namespace vz::earthvision {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool is_null(double z, double null_value) {
    if (std::isnan(z)) return true;
    if (std::fabs(z) >= 1e29) return true;
    return std::fabs(z - null_value) <= 1e-9 * std::fabs(null_value);
}

bool contains(const std::string& hay, std::string_view needle) { return hay.find(needle) != std::string::npos; }

}  // namespace

std::vector<double> row_numbers(std::string_view row) { return text::lenient_numbers(row); }

std::vector<std::uint64_t> grid_size_numbers(std::string_view header) {
    std::vector<std::uint64_t> out;
    std::size_t i = 0, n = header.size();
    while (i < n) {
        while (i < n && !(header[i] >= '0' && header[i] <= '9')) ++i;
        std::size_t b = i;
        while (i < n && header[i] >= '0' && header[i] <= '9') ++i;
        if (i > b) {
            std::uint64_t v = 0;
            auto r = std::from_chars(header.data() + b, header.data() + i, v);
            if (r.ec == std::errc()) out.push_back(v);
        }
    }
    return out;
}

Result<EarthVisionGrid> read_grid(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    EarthVisionGrid out;
    bool marker = false;
    double null_value = 1e30;
    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.front() == '#') {
            std::string_view h = l.substr(1);
            std::string u = text::upper(h);
            if (contains(u, "EARTHVISION") || contains(u, "GRID_SIZE") || contains(u, "GRID_SPACE") ||
                contains(u, "FIELD:"))
                marker = true;
            if (contains(u, "GRID_SIZE")) {
                auto nums = grid_size_numbers(h);
                if (nums.size() >= 2) out.grid_size = std::pair{nums[0], nums[1]};
            }
            if (contains(u, "NULL")) {
                // The last piece between white space and ':' that is a number.
                std::optional<double> last;
                std::size_t i = 0, n = h.size();
                while (i < n) {
                    while (i < n && (text::is_space(h[i]) || h[i] == ':')) ++i;
                    std::size_t b = i;
                    while (i < n && !text::is_space(h[i]) && h[i] != ':') ++i;
                    if (i > b)
                        if (auto v = text::parse_number(h.substr(b, i - b))) last = *v;
                }
                if (last) null_value = *last;
            }
            continue;
        }
        auto nums = row_numbers(l);
        if (nums.size() < 3) continue;
        EarthVisionNode node;
        node.x = nums[0];
        node.y = nums[1];
        node.z = is_null(nums[2], null_value) ? kNaN : nums[2];
        if (nums.size() > 3) node.column = nums[3];
        if (nums.size() > 4) node.row = nums[4];
        out.nodes.push_back(node);
    }
    if (!marker && out.nodes.empty())
        return fail(Error::format("EarthVision grid: no header markers and no data rows"));
    return out;
}

Result<PointColumns> read_points(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(EarthVisionGrid grid, read_grid(path));
    bool numbered = false;
    for (const auto& n : grid.nodes)
        if (n.column || n.row) {
            numbered = true;
            break;
        }
    PointColumns out;
    std::vector<double> cols, rows;
    for (const auto& n : grid.nodes) {
        if (!std::isfinite(n.z)) continue;
        out.points.push_back({n.x, n.y, n.z});
        if (numbered) {
            cols.push_back(n.column.value_or(kNaN));
            rows.push_back(n.row.value_or(kNaN));
        }
    }
    if (numbered) {
        out.attributes.insert({"column", std::move(cols)});
        out.attributes.insert({"row", std::move(rows)});
    }
    return out;
}

Result<std::uint64_t> node_index(double value, std::string_view field) {
    if (!std::isfinite(value) || value < 0 || value - std::trunc(value) > 1e-9)
        return fail(Error::geometry_inference(
            fmt::format("EarthVision {} index must be a finite non-negative integer, got {}", field, num(value))));
    constexpr double kTwo64 = 18446744073709551616.0;
    if (value > kTwo64)
        return fail(Error::geometry_inference(fmt::format("EarthVision {} index exceeds platform range: {}", field, num(value))));
    // 2^64 itself is not representable: it saturates explicitly.
    if (value >= kTwo64) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace vz::earthvision
