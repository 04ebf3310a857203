// Well payloads ("well" sections).

#include <fmt/format.h>

#include <utility>

#include "expected_macros.hpp"
#include "manager/element.hpp"
#include "manager/element_records.hpp"

namespace vz::element {

namespace {

template <class Out>
void put_station(Out& out, const Station& s) {
    out.f64(s.md);
    out.f64(s.x);
    out.f64(s.y);
    out.f64(s.z);
    payload::option(out, s.tangent, [](auto& o, const Tangent& t) {
        o.f64(t.north);
        o.f64(t.east);
        o.f64(t.down);
    });
}

template <class Out>
void put_picks(Out& out, const std::vector<DepthPick>& picks) {
    payload::list(out, picks, [](auto& o, const DepthPick& p) {
        o.text(p.name);
        o.f64(p.md);
    });
}

template <class Out>
void put_log(Out& out, const Log& log) {
    out.text(log.mnemonic);
    out.text(log.unit);
    out.variant(static_cast<std::uint32_t>(log.kind));
    out.vector(log.md);
    out.vector(log.values);
    out.text_list(log.history.entries());
}

template <class Out>
void put_sidetrack(Out& out, const Sidetrack& b) {
    out.text(b.label);
    out.f64(b.head[0]);
    out.f64(b.head[1]);
    out.f64(b.kb);
    payload::list(out, b.trajectories, [](auto& o, const Trajectory& t) {
        payload::list(o, t.stations(), [](auto& oo, const Station& s) { put_station(oo, s); });
    });
    out.u64(b.active);
    payload::list(out, b.logs, [](auto& o, const Log& log) { put_log(o, log); });
    put_picks(out, b.tops);
    put_picks(out, b.contacts);
    out.text_list(b.strat_order);
}

Result<Station> read_station(payload::Reader& r) {
    Station s;
    VZ_ASSIGN_OR_RETURN(s.md, r.f64());
    VZ_ASSIGN_OR_RETURN(s.x, r.f64());
    VZ_ASSIGN_OR_RETURN(s.y, r.f64());
    VZ_ASSIGN_OR_RETURN(s.z, r.f64());
    VZ_ASSIGN_OR_RETURN(s.tangent, r.option([](payload::Reader& rr) -> Result<Tangent> {
        Tangent t;
        VZ_ASSIGN_OR_RETURN(t.north, rr.f64());
        VZ_ASSIGN_OR_RETURN(t.east, rr.f64());
        VZ_ASSIGN_OR_RETURN(t.down, rr.f64());
        return t;
    }));
    return s;
}

Result<std::vector<DepthPick>> read_picks(payload::Reader& r) {
    return r.list([](payload::Reader& rr) -> Result<DepthPick> {
        DepthPick p;
        VZ_ASSIGN_OR_RETURN(p.name, rr.text());
        VZ_ASSIGN_OR_RETURN(p.md, rr.f64());
        return p;
    });
}

Result<Log> read_log(payload::Reader& r) {
    Log log;
    VZ_ASSIGN_OR_RETURN(log.mnemonic, r.text());
    VZ_ASSIGN_OR_RETURN(log.unit, r.text());
    VZ_ASSIGN_OR_RETURN(auto kind, r.variant(2));
    log.kind = static_cast<LogKind>(kind);
    VZ_ASSIGN_OR_RETURN(log.md, r.vector());
    VZ_ASSIGN_OR_RETURN(log.values, r.vector());
    VZ_ASSIGN_OR_RETURN(auto history, r.text_list());
    log.history = History(std::move(history));
    return log;
}

Result<Sidetrack> read_sidetrack(payload::Reader& r) {
    Sidetrack b;
    VZ_ASSIGN_OR_RETURN(b.label, r.text());
    VZ_ASSIGN_OR_RETURN(b.head[0], r.f64());
    VZ_ASSIGN_OR_RETURN(b.head[1], r.f64());
    VZ_ASSIGN_OR_RETURN(b.kb, r.f64());
    VZ_ASSIGN_OR_RETURN(auto trajectories,
                        r.list([](payload::Reader& rr) { return rr.list(read_station); }));
    b.trajectories.reserve(trajectories.size());
    for (std::size_t k = 0; k < trajectories.size(); ++k) {
        // The trajectory queries rely on at least one station and strictly
        // increasing depths.
        auto t = Trajectory::from_station_records(std::move(trajectories[k]));
        if (!t) {
            return fail(payload::deserialize_error(
                fmt::format("bore '{}' trajectory {}: {}", b.label, k, t.error().message())));
        }
        b.trajectories.push_back(std::move(*t));
    }
    VZ_ASSIGN_OR_RETURN(b.active, r.u64());
    if (!b.trajectories.empty() && b.active >= b.trajectories.size()) {
        return fail(payload::deserialize_error(fmt::format("bore '{}' active trajectory {} is out of range ({} trajectories)",
                                                           b.label, b.active, b.trajectories.size())));
    }
    VZ_ASSIGN_OR_RETURN(b.logs, r.list(read_log));
    for (const Log& log : b.logs) {
        if (log.md.size() != log.values.size()) {
            return fail(payload::deserialize_error(fmt::format("bore '{}' log '{}': md len {} != values len {}",
                                                               b.label, log.mnemonic, log.md.size(),
                                                               log.values.size())));
        }
    }
    VZ_ASSIGN_OR_RETURN(b.tops, read_picks(r));
    VZ_ASSIGN_OR_RETURN(b.contacts, read_picks(r));
    VZ_ASSIGN_OR_RETURN(b.strat_order, r.text_list());
    return b;
}

Result<Well> read_well(payload::Reader& r) {
    Well w;
    VZ_ASSIGN_OR_RETURN(w.name, r.text());
    VZ_ASSIGN_OR_RETURN(w.head[0], r.f64());
    VZ_ASSIGN_OR_RETURN(w.head[1], r.f64());
    VZ_ASSIGN_OR_RETURN(w.kb, r.f64());
    VZ_ASSIGN_OR_RETURN(w.crs, records::read_optional_text(r));
    VZ_ASSIGN_OR_RETURN(w.bores, r.map(read_sidetrack));
    VZ_ASSIGN_OR_RETURN(w.default_bore, records::read_optional_text(r));
    // Bores are looked up by key and reported by label; the main bore and the
    // default bore are assumed present by every well-level read.
    for (const auto& [key, bore] : w.bores) {
        if (key != bore.label) {
            return fail(payload::deserialize_error(fmt::format("bore key '{}' differs from its label '{}'", key,
                                                               bore.label)));
        }
    }
    if (w.main_bore() == nullptr) {
        return fail(payload::deserialize_error(fmt::format("well '{}' has no main bore", w.name)));
    }
    if (w.default_bore && w.sidetrack(*w.default_bore) == nullptr) {
        return fail(payload::deserialize_error(
            fmt::format("default bore '{}' is not a bore of well '{}'", *w.default_bore, w.name)));
    }
    return w;
}

}  // namespace

Result<Bytes> serialize_well(const Well& well) {
    return payload::encode([&](auto& out) {
        out.text(well.name);
        out.f64(well.head[0]);
        out.f64(well.head[1]);
        out.f64(well.kb);
        records::put_optional_text(out, well.crs);
        payload::map(out, well.bores, [](auto& o, const Sidetrack& b) { put_sidetrack(o, b); });
        records::put_optional_text(out, well.default_bore);
    });
}

Result<Well> decode_well(std::uint32_t version, std::span<const std::uint8_t> data) {
    VZ_TRY(records::check_version_quoted(kWellKind, version));
    return payload::decode(data, read_well);
}

}  // namespace vz::element
