#include "gridding/mincurv_stencil.hpp"

namespace vz::gridding::mincurv {

std::array<double, 25> folded_equation(std::int64_t i, std::int64_t j, std::int64_t ncol, std::int64_t nrow) {
    std::array<double, 25> out{};
    auto sink = [&](std::int64_t k, std::int64_t l, double w) { out[(k - i + 2) + 5 * (l - j + 2)] += w; };
    for (const StencilTerm& t : kStencil) add_term(i + t.dc, j + t.dr, t.w, ncol, nrow, sink);
    return out;
}

}  // namespace vz::gridding::mincurv
