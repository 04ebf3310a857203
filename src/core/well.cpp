#include "core/well.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include <fmt/format.h>

#include "foundation/format.hpp"

namespace vz {

namespace {

/// The bores of a well, read only, in bore order.
template <class F>
void for_each_bore(const OrderedMap<std::string, Sidetrack>& bores, F&& f) {
    for (auto it = bores.begin(); it != bores.end(); ++it) f(it->second);
}

Error no_bore(const Well& well, std::string_view label) {
    return Error::not_found(fmt::format("well '{}' has no bore '{}' (bores: {})", well.name, label,
                                        fmt::join(well.named_bore_labels(), ", ")));
}

}  // namespace

// ---- Sidetrack: trajectories, positions ------------------------------------

const Trajectory* Sidetrack::active_trajectory() const {
    if (active < trajectories.size()) return &trajectories[static_cast<std::size_t>(active)];
    return nullptr;
}

Result<const Trajectory*> Sidetrack::push_trajectory(const TrajectorySource& source) {
    VZ_ASSIGN_OR_RETURN(Trajectory t, Trajectory::from_source(source, head[0], head[1], kb));
    trajectories.push_back(std::move(t));
    active = trajectories.size() - 1;
    return &trajectories.back();
}

std::optional<double> Sidetrack::tvd(double md) const {
    if (const Trajectory* t = active_trajectory()) return t->tvd(md);
    return std::nullopt;
}

std::optional<Xyz> Sidetrack::xyz(double md) const {
    if (const Trajectory* t = active_trajectory()) return t->xyz(md);
    return std::nullopt;
}

// ---- Sidetrack: logs and contacts ------------------------------------------

void Sidetrack::push_log(Log log) { logs.push_back(std::move(log)); }

void Sidetrack::remove_logs_named(std::string_view mnemonic) {
    std::erase_if(logs, [&](const Log& l) { return iequals_ascii(l.mnemonic, mnemonic); });
}

std::optional<LogView> Sidetrack::log(std::string_view mnemonic) const {
    for (const Log& l : logs)
        if (iequals_ascii(l.mnemonic, mnemonic)) return l.view();
    return std::nullopt;
}

void Sidetrack::add_contacts(std::vector<DepthPick> rows) {
    contacts.reserve(contacts.size() + rows.size());
    for (auto& r : rows) contacts.push_back(std::move(r));
}

std::optional<DepthPick> Sidetrack::contact(std::string_view name) const {
    for (const DepthPick& c : contacts)
        if (iequals_ascii(c.name, name)) return c;
    return std::nullopt;
}

// ---- Sidetrack: surface crossings ------------------------------------------

Result<void> Sidetrack::check_intersection(const SurfaceIntersection& hit) const {
    if (hit.bore && *hit.bore != label) {
        return fail(Error::geometry_mismatch(
            fmt::format("intersection belongs to bore '{}', not '{}'", *hit.bore, label)));
    }
    const Trajectory* t = active_trajectory();
    const std::optional<Xyz> p = t ? t->position_at_md(hit.md) : std::nullopt;
    if (!p) {
        return fail(
            Error::out_of_range(fmt::format("intersection MD {} is outside bore '{}'", num(hit.md), label)));
    }
    const double dx = (*p)[0] - hit.xyz[0];
    const double dy = (*p)[1] - hit.xyz[1];
    const double dz = -(*p)[2] - hit.xyz[2];
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double scale = std::max({std::abs((*p)[0]), std::abs((*p)[1]), std::abs((*p)[2])});
    const double tolerance = std::max(1e-9 * scale, 1e-6);
    // Written as "not within" so that a NaN difference is refused as well.
    if (!(d <= tolerance)) {
        return fail(Error::geometry_mismatch(fmt::format(
            "intersection XYZ does not match bore '{}' at MD {} (difference {})", label, num(hit.md), num(d))));
    }
    return {};
}

// ---- Well: bores -------------------------------------------------------------

Well Well::make(std::string name, double head_x, double head_y, double kb, std::optional<std::string> crs) {
    Well w;
    w.name = std::move(name);
    w.head = {head_x, head_y};
    w.kb = kb;
    w.crs = std::move(crs);
    w.sidetrack_entry("");
    return w;
}

const Sidetrack* Well::sidetrack(std::string_view label) const {
    auto it = bores.find(std::string(label));
    return it == bores.end() ? nullptr : &it->second;
}

Sidetrack* Well::sidetrack(std::string_view label) {
    auto it = bores.find(std::string(label));
    return it == bores.end() ? nullptr : &it.value();
}

Sidetrack Well::new_bore(std::string_view label) const {
    Sidetrack bore;
    bore.label = std::string(label);
    bore.head = head;
    bore.kb = kb;
    return bore;
}

Sidetrack& Well::sidetrack_entry(std::string_view label) {
    std::string key(label);
    auto it = bores.find(key);
    if (it == bores.end()) it = bores.emplace(std::move(key), new_bore(label)).first;
    return it.value();
}

bool Well::is_multibore() const {
    int carrying = 0;
    for_each_bore(bores, [&](const Sidetrack& b) { carrying += b.has_trajectory() ? 1 : 0; });
    return carrying >= 2;
}

std::vector<std::string_view> Well::named_bore_labels() const {
    std::vector<std::string_view> out;
    for (auto it = bores.begin(); it != bores.end(); ++it)
        if (!it->second.label.empty()) out.push_back(it->second.label);
    return out;
}

Result<void> Well::set_default_bore(std::string_view label) {
    if (sidetrack(label) == nullptr) return fail(no_bore(*this, label));
    default_bore = std::string(label);
    return {};
}

namespace {

/// The only bore carrying a trajectory, or null when none or several do.
template <class WellT>
auto only_positioned_bore(WellT& well) -> decltype(&well.bores.begin()->second) {
    decltype(&well.bores.begin()->second) found = nullptr;
    int carrying = 0;
    for (auto it = well.bores.begin(); it != well.bores.end(); ++it) {
        if (!it->second.has_trajectory()) continue;
        ++carrying;
        found = &it->second;
    }
    return carrying == 1 ? found : nullptr;
}

}  // namespace

const Sidetrack* Well::accessor_bore() const {
    if (default_bore) {
        if (const Sidetrack* b = sidetrack(*default_bore)) return b;
    }
    if (const Sidetrack* b = only_positioned_bore(*this)) return b;
    return main_bore();
}

Result<Sidetrack*> Well::resolve_bore() {
    std::string_view label;
    if (default_bore) {
        label = *default_bore;
    } else if (const Sidetrack* only = only_positioned_bore(std::as_const(*this))) {
        label = only->label;
    }
    Sidetrack* bore = sidetrack(label);
    if (bore == nullptr) return fail(no_bore(*this, label));
    return bore;
}

Result<const Sidetrack*> Well::intersection_bore() const {
    if (is_multibore() && !default_bore) {
        return fail(Error::unsupported(
            fmt::format("well '{}' has multiple bores; select one with sidetrack(...) or set_default_bore(...) "
                        "before this operation",
                        name)));
    }
    return accessor_bore();
}

// ---- Well: reads through the accessor bore -----------------------------------

std::optional<LogView> Well::log(std::string_view mnemonic) const {
    const Sidetrack* b = accessor_bore();
    return b ? b->log(mnemonic) : std::nullopt;
}

const std::vector<DepthPick>& Well::tops() const {
    static const std::vector<DepthPick> kNone;
    const Sidetrack* b = accessor_bore();
    return b ? b->tops : kNone;
}

const std::vector<DepthPick>& Well::contacts() const {
    static const std::vector<DepthPick> kNone;
    const Sidetrack* b = accessor_bore();
    return b ? b->contacts : kNone;
}

std::optional<DepthPick> Well::contact(std::string_view name_) const {
    const Sidetrack* b = accessor_bore();
    return b ? b->contact(name_) : std::nullopt;
}

std::optional<double> Well::tvd(double md) const {
    const Sidetrack* b = accessor_bore();
    return b ? b->tvd(md) : std::nullopt;
}

std::optional<Xyz> Well::xyz(double md) const {
    const Sidetrack* b = accessor_bore();
    return b ? b->xyz(md) : std::nullopt;
}

std::optional<double> Well::md_at_tvd(double tvd_) const {
    const Sidetrack* b = accessor_bore();
    const Trajectory* t = b ? b->active_trajectory() : nullptr;
    return t ? t->md_at_tvd(tvd_) : std::nullopt;
}

std::optional<Zone> Well::top_interval(std::string_view top_name) const {
    const Sidetrack* b = accessor_bore();
    return b ? b->zone_of_top(top_name) : std::nullopt;
}

// ---- Well: top changes -------------------------------------------------------

namespace {

/// Refuses a well-level top change on a well whose bore is ambiguous.
Result<void> guard_multibore(const Well& well, std::string_view operation) {
    if (well.is_multibore() && !well.default_bore) {
        return fail(Error::unsupported(fmt::format(
            "well '{}' has multiple bores; select a default bore before {}", well.name, operation)));
    }
    return {};
}

/// Refuses a crossing found on another well; a crossing without well
/// identity passes.
Result<void> check_hit_well(const Well& well, const SurfaceIntersection& hit) {
    if (hit.well && *hit.well != well.name) {
        return fail(Error::geometry_mismatch(
            fmt::format("intersection belongs to well '{}', not '{}'", *hit.well, well.name)));
    }
    return {};
}

}  // namespace

Result<void> Well::add_top_md(std::string_view top_name, double md) {
    VZ_TRY(guard_multibore(*this, "add_top"));
    VZ_ASSIGN_OR_RETURN(Sidetrack * bore, resolve_bore());
    return bore->add_top(top_name, md);
}

Result<void> Well::replace_top_md(std::string_view top_name, double md) {
    VZ_TRY(guard_multibore(*this, "replace_top"));
    VZ_ASSIGN_OR_RETURN(Sidetrack * bore, resolve_bore());
    return bore->replace_top(top_name, md);
}

Result<DepthPick> Well::remove_top(std::string_view top_name) {
    VZ_TRY(guard_multibore(*this, "remove_top"));
    VZ_ASSIGN_OR_RETURN(Sidetrack * bore, resolve_bore());
    return bore->remove_top(top_name);
}

Result<void> Well::add_top_hit(std::string_view top_name, const SurfaceIntersection& hit) {
    VZ_TRY(check_hit_well(*this, hit));
    VZ_TRY(guard_multibore(*this, "add_top"));
    VZ_ASSIGN_OR_RETURN(Sidetrack * bore, resolve_bore());
    return bore->add_top_hit(top_name, hit);
}

Result<void> Well::replace_top_hit(std::string_view top_name, const SurfaceIntersection& hit) {
    VZ_TRY(check_hit_well(*this, hit));
    VZ_TRY(guard_multibore(*this, "replace_top"));
    VZ_ASSIGN_OR_RETURN(Sidetrack * bore, resolve_bore());
    return bore->replace_top_hit(top_name, hit);
}

void Well::set_strat_order(const std::vector<std::string>& names) {
    for (auto it = bores.begin(); it != bores.end(); ++it) it.value().set_strat_order(names);
}

}  // namespace vz
