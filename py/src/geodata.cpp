// The `GeoData` class: construction, the project-level properties and the
// two plain mutators. The element, loader, project-file, rename and asset
// methods are added to the same class by their own files.

#include "geodata.hpp"

#include <atomic>
#include <type_traits>

#include "frame/frame.hpp"
#include "geodata_assets.hpp"
#include "geodata_edits.hpp"
#include "geodata_elements.hpp"
#include "geodata_files.hpp"
#include "geodata_loaders.hpp"
#include "geodata_wells.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "GeoData(unit=\"m\")\n--\n\n"
    "A load-once subsurface project under one declared length unit.";

std::uint64_t next_serial() {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

PyResult<GeoDataPayload> construct(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string text, a.get_or<std::string>("unit", "m"));
    VZ_ASSIGN_OR_RETURN(LengthUnit unit, parse_length_unit(text));
    return GeoDataPayload{vz::GeoData::make(unit), next_serial()};
}

// ---- properties ----------------------------------------------------------

PyResult<Ref> unit(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    return to_py(length_unit_symbol(geo->project.unit));
}

template <std::optional<std::string> vz::GeoData::*Field>
PyResult<Ref> optional_text(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    std::optional<std::string> copy = geo->project.*Field;
    return to_py(copy);
}

template <std::vector<std::string> vz::GeoData::*Field>
PyResult<Ref> text_list(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    std::vector<std::string> copy = geo->project.*Field;
    return to_py(copy);
}

// The setters of display_name and crs: the value first (None clears it,
// anything but a str is refused naming `value`), then exclusive access.
template <Result<void> (vz::GeoData::*Set)(std::optional<std::string>)>
PyResult<void> set_optional_text(PyObject* self, PyObject* value) {
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> text,
                        Args::noted("value", from_py<std::optional<std::string>>(value)));
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    return from_core((geo->project.*Set)(std::move(text)));
}

PyResult<void> set_owner(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string owner, a.get<std::string>("owner"));
    geo->project.set_owner(std::move(owner));
    return {};
}

PyResult<void> set_tags(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> tags, a.get<std::vector<std::string>>("tags"));
    geo->project.set_tags(std::move(tags));
    return {};
}

ClassDef define() {
    ClassDef def = ClassDef::of<GeoDataPayload>("GeoData", kDoc);
    def.constructor<&construct>()
        .getter<&unit>("unit", "The project's length unit, as a string (`\"ft\"` or `\"m\"`).")
        .getter<&optional_text<&vz::GeoData::owner>>("owner",
                                                      "The project owner recorded in the manifest, or `None`.")
        .property<&optional_text<&vz::GeoData::display_name>, &set_optional_text<&vz::GeoData::set_display_name>>(
            "display_name", "Optional authored project title (never inferred from a path).")
        .property<&optional_text<&vz::GeoData::crs>, &set_optional_text<&vz::GeoData::set_crs>>(
            "crs", "Optional free-text coordinate reference system declaration.")
        .getter<&text_list<&vz::GeoData::tags>>("tags", "Project-level custom tags.")
        .getter<&text_list<&vz::GeoData::strat_order>>(
            "strat_order",
            "The global lithostratigraphic column (top names, shallow\xe2\x86\x92""deep) derived by\n"
            "the last `load_well_tops` across every well in that file. Empty list\n"
            "before any tops are loaded.")
        .method<&set_owner>("set_owner($self, owner)\n--\n\n")
        .method<&set_tags>("set_tags($self, tags)\n--\n\n");
    // The other method families (element handles and listings, loaders,
    // wells and tops, project files, renames and tags, assets) add
    // themselves here, each through one `add_geodata_…(def)` call.
    add_geodata_elements(def);
    add_geodata_loaders(def);
    add_geodata_wells(def);
    add_geodata_files(def);
    add_geodata_edits(def);
    add_geodata_assets(def);
    return def;
}

}  // namespace

PyResult<PyTypeObject*> geodata_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_geodata(vz::GeoData project) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, geodata_type());
    return create_instance(type, GeoDataPayload{std::move(project), next_serial()});
}

std::string name_leaf(std::string_view stored_name) {
    const auto slash = stored_name.rfind('/');
    const std::string_view leaf = slash == std::string_view::npos ? stored_name : stored_name.substr(slash + 1);
    return std::string(trim_unicode(leaf));
}

}  // namespace vz::py
