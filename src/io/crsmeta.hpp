#pragma once
/// CRS metadata side file: the coordinate reference system's name found by a
/// plain text search (an element or attribute form), not by an XML parser.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/result.hpp"

namespace vz::crsmeta {

/// The CRS label: the first present of the elements label and crs and the
/// attributes label and name, trimmed, with the five predefined entities
/// replaced. `Io` when unreadable; `Parse` "crsmeta '{}': no CRS label found".
Result<std::string> read_crs_label(const std::filesystem::path& path);

/// Content of the first `<tag>`...`</tag>` element (tag lower-case, matched
/// without ASCII case; the opening tag has no attributes); none if absent.
std::optional<std::string_view> element_text(std::string_view text, std::string_view tag);

/// Value of the first `name="..."` (then `name='...'`) form that is closed
/// and non-empty; a plain substring search.
std::optional<std::string_view> attribute_value(std::string_view text, std::string_view name);

/// One left-to-right pass replacing &amp; &lt; &gt; &quot; &apos;.
std::string unescape_entities(std::string_view s);

}  // namespace vz::crsmeta
