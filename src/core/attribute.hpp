#pragma once
/// Metadata of a value lane: identifier, display label, continuous or
/// categorical kind, optional units and, for categorical lanes, an optional
/// table of code records (label and "#RRGGBB" colour per integer code).
///
/// This header is the single authority on what metadata is valid; every
/// surface kind, the project-file decoder and the Python dictionary form use
/// `AttributeMetadata::validate`. Every failure is of the `Parse` kind.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"

namespace vz {

/// Continuous quantity (index 0) or categorical integer codes (index 1).
/// Categorical lanes hold whole numbers (NaN for none) and are resampled by
/// nearest node.
enum class AttributeKind { Continuous = 0, Categorical = 1 };

/// "continuous" / "categorical".
const char* attribute_kind_name(AttributeKind kind);

/// Label and display colour of one category code.
struct CodeRecord {
    std::optional<std::string> label;
    std::optional<std::string> color;  ///< "#RRGGBB"

    /// Upper-cases the colour (ASCII a-z only), then validates the record.
    /// `Parse` on an empty/untrimmed label or a colour that is not "#RRGGBB".
    static Result<CodeRecord> from_parts(std::optional<std::string> label, std::optional<std::string> color);

    /// Label absent or non-empty and trimmed; colour absent or "#" plus six
    /// hex digits. `Parse` otherwise (label checked first).
    Result<void> validate() const;

    bool operator==(const CodeRecord&) const = default;
};

/// Code table: canonical integer key text -> record, in insertion order.
using CodeTable = OrderedMap<std::string, CodeRecord>;

/// Metadata of one lane (or of a surface's primary values). Copies are deep.
struct AttributeMetadata {
    std::string id;     ///< equals the name of the lane it describes
    std::string label;  ///< display label
    AttributeKind kind = AttributeKind::Continuous;
    std::optional<std::string> units;
    std::optional<CodeTable> codes;

    /// Default metadata of a new lane: id = label = name, continuous, no
    /// units, no codes, validated (`Parse` for an empty or untrimmed name).
    static Result<AttributeMetadata> for_lane(std::string_view name);

    /// Checks the metadata rules in a fixed order and reports the first
    /// violation (`Parse`). Changes nothing.
    Result<void> validate() const;

    /// Rewrites into canonical form: trimmed label, units and code labels,
    /// upper-case code colours (ASCII). The id is never altered. Never fails.
    void canonicalize();

    bool operator==(const AttributeMetadata&) const = default;
};

}  // namespace vz
