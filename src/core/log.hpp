#pragma once
/// Logs: one curve along a bore (mnemonic, unit, kind, equally long MD and
/// value arrays, history), and `LogView`, the read-only window through which
/// every per-sample question is asked.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "foundation/history.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"

namespace vz {

/// Kind of a log; stored as the unsigned 32-bit index of the enumerator.
enum class LogKind : std::uint32_t {
    Standard = 0,
    Core = 1,
};

/// One curve as a reader delivers it, before it is tied to a depth column.
struct LogCurve {
    std::string mnemonic;
    std::string unit;
    std::vector<double> values;
};

class LogView;

/// One curve recorded or computed along a bore. `md` and `values` always have
/// the same length; MDs are expected ascending but neither sorted nor
/// checked, and NaN or infinite MDs are kept as given.
struct Log {
    std::string mnemonic;
    std::string unit;
    LogKind kind = LogKind::Standard;
    std::vector<double> md;
    std::vector<double> values;
    History history;

    /// A `Standard` log with history ["log.new"]; mnemonic and unit are kept
    /// exactly as given. Fails with `Parse` "log '{}': md len {} != values
    /// len {}" when the arrays differ in length.
    static Result<Log> make(std::string mnemonic, std::string unit, std::vector<double> md,
                            std::vector<double> values);

    /// `make` for a reader curve on a shared depth column (copied).
    static Result<Log> from_curve(LogCurve curve, std::span<const double> md);

    /// The whole log as a view: every sample, the history copied unchanged.
    LogView view() const;

    /// The samples with top_md <= md < base_md (two binary searches over the
    /// stored MDs; an empty view when base_md is not above top_md or NaN; a
    /// NaN top_md starts at the first sample). The view's history is the
    /// log's plus "log.clip(top_md={}, base_md={})". Never fails.
    static LogView clip(const Log& log, double top_md, double base_md);

    /// One value per target MD, linearly interpolated from the view's samples:
    /// NaN for a NaN target, a target outside [first MD, last MD], or an
    /// empty view; the left value where the two bracketing MDs are equal.
    /// Targets need not be ascending: a target below the interval reached so
    /// far is looked up afresh. Never fails.
    static std::vector<double> resample(const LogView& view, std::span<const double> targets);

    bool operator==(const Log&) const = default;
};

/// A read-only window onto a contiguous run of a log's samples, with its own
/// copy of the history. Shares the samples: it must not outlive the log.
class LogView {
public:
    LogView() = default;
    /// A view of the samples that have both an md and a value: spans of
    /// differing lengths (a log assembled field by field) are cut to the
    /// shorter, so no query reads past either array.
    LogView(History history, std::span<const double> md, std::span<const double> values)
        : history_(std::move(history)),
          md_(md.first(std::min(md.size(), values.size()))),
          values_(values.first(std::min(md.size(), values.size()))) {}

    const History& history() const { return history_; }
    /// MDs of the view's samples.
    std::span<const double> md() const { return md_; }
    /// Values of the view's samples (NaN marks a missing value).
    std::span<const double> values() const { return values_; }
    std::size_t size() const { return md_.size(); }
    bool empty() const { return md_.empty(); }

    /// The value at a measured depth, linear between the bracketing samples.
    /// Absent for an empty view, a NaN md, or an md below the first or above
    /// the last sample MD (no extrapolation). A one-sample view answers only
    /// at exactly its MD. Never fails.
    std::optional<double> at_md(double md) const;

    /// `Stats::from_values` of the view's values (NaN skipped).
    Stats stats() const;

    /// Geometric mean of the view's finite values > 0; NaN when none.
    double geomean() const;

private:
    History history_;
    std::span<const double> md_;
    std::span<const double> values_;
};

}  // namespace vz
