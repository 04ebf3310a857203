// Model sections and provider assets. Every method takes its access to the
// project before converting any argument (so an access conflict is reported
// before an argument error), copies `bytes` arguments and tag lists into
// owned values and runs one core operation; the interpreter lock is kept
// throughout. Results are fresh Python objects: changing them never reaches
// the project.

#include "geodata_assets.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frame/builders.hpp"
#include "frame/convert_more.hpp"
#include "geodata.hpp"

namespace vz::py {

namespace {

PyResult<void> put_model_section(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> tags, a.get<std::vector<std::string>>("tags"));
    VZ_ASSIGN_OR_RETURN(std::uint32_t version, a.get<std::uint32_t>("version"));
    VZ_ASSIGN_OR_RETURN(Bytes data, a.get<Bytes>("data"));
    geo->project.put_model_section(name, std::move(tags), version, std::move(data.data));
    return {};
}

PyResult<std::vector<std::string>> model_section_names(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    return geo->project.model_section_names();
}

PyResult<Ref> model_section(PyObject* self, const Args& a) {
    std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> found;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
        found = geo->project.model_section(name);
    }
    if (!found) return Ref::none();
    return py_tuple(found->first, Bytes{std::move(found->second)});
}

/// The core operations with the arguments of `add_asset`.
using AssetWrite = Result<void> (vz::GeoData::*)(std::string_view, std::string, std::vector<std::uint8_t>,
                                                 std::vector<std::string>, std::uint32_t, std::vector<std::uint8_t>);

template <AssetWrite Op>
PyResult<void> write_asset(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::string kind, a.get<std::string>("kind"));
    VZ_ASSIGN_OR_RETURN(Bytes envelope, a.get<Bytes>("envelope"));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> tags, a.get<std::vector<std::string>>("tags"));
    VZ_ASSIGN_OR_RETURN(std::uint32_t version, a.get<std::uint32_t>("version"));
    VZ_ASSIGN_OR_RETURN(Bytes data, a.get<Bytes>("data"));
    return from_core((geo->project.*Op)(name, std::move(kind), std::move(envelope.data), std::move(tags), version,
                                        std::move(data.data)));
}

PyResult<void> rename_asset(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string old_name, a.get<std::string>("old"));
    VZ_ASSIGN_OR_RETURN(std::string new_name, a.get<std::string>("new"));
    return from_core(geo->project.rename_asset(old_name, new_name));
}

PyResult<bool> delete_asset(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    return geo->project.delete_asset(name);
}

PyResult<std::vector<std::string>> asset_names(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    return geo->project.asset_names();
}

PyResult<Ref> asset(PyObject* self, const Args& a) {
    std::optional<vz::AssetSnapshot> found;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
        found = geo->project.asset(name);
    }
    if (!found) return Ref::none();
    DictBuilder d;
    d.add("kind", found->kind)
        .add("envelope", Bytes{std::move(found->envelope)})
        .add("version", found->version)
        .add("tags", found->tags)
        .add("bytes", Bytes{std::move(found->data)});
    return std::move(d).build();
}

}  // namespace

void add_geodata_assets(ClassDef& def) {
    def.method<&put_model_section>(
           "put_model_section($self, name, tags, version, data)\n--\n\n"
           "Store an opaque model section (korviSim's sidecar) \xe2\x80\x94 bytes voridEZ frames\n"
           "and returns untouched, each with its own `version`.")
        .method<&model_section_names>("model_section_names($self)\n--\n\nThe names of the model sections held.")
        .method<&model_section>("model_section($self, name)\n--\n\nA model section's `(version, bytes)`, or `None`.")
        .method<&write_asset<&vz::GeoData::add_asset>>(
            "add_asset($self, name, kind, envelope, tags, version, data)\n--\n\n"
            "Add a generic provider-owned project asset. `envelope` and `data` are\n"
            "retained exactly; existing physical names are never overwritten.")
        .method<&write_asset<&vz::GeoData::replace_asset>>(
            "replace_asset($self, name, kind, envelope, tags, version, data)\n--\n\n"
            "Replace an existing generic project asset; missing names are an error.")
        .method<&rename_asset>("rename_asset($self, old, new)\n--\n\n")
        .method<&delete_asset>("delete_asset($self, name)\n--\n\n")
        .method<&asset_names>("asset_names($self)\n--\n\n")
        .method<&asset>("asset($self, name)\n--\n\nSnapshot one generic asset as plain fields, or `None`.");
}

}  // namespace vz::py
