#include "net_settings.hpp"

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/builders.hpp"
#include "frame/convert_more.hpp"
#include "frame/frame.hpp"

namespace vz::py {

namespace {

// Non-ASCII characters are written as UTF-8 escapes: φ \xcf\x86, ≥ \xe2\x89\xa5,
// ≤ \xe2\x89\xa4, — \xe2\x80\x94, → \xe2\x86\x92.
constexpr const char* kDoc =
    "NetSettings(phi_min=0.08, sw_max=0.5, vsh_max=0.5)\n--\n\n"
    "Reservoir net cutoffs as a frozen spec: a sample is **net** iff\n"
    "`phi >= phi_min` AND `sw <= sw_max` AND `vsh <= vsh_max`. Wraps the core\n"
    "`voridez::Cutoffs`. Defaults are the generic clastic starting point\n"
    "(\xcf\x86\xe2\x89\xa5"
    "0.08 / Sw\xe2\x89\xa4"
    "0.5 / Vsh\xe2\x89\xa4"
    "0.5). Accepted by `net_zone_stats(cut=)`,\n"
    "`zone_table(cut=)`, and `view(spec=ViewSpec(cutoff=))`.";

constexpr const char* kReplaceDoc =
    "replace($self, phi_min=None, sw_max=None, vsh_max=None)\n--\n\n"
    "A derived spec with the named fields overridden (a scenario knob):\n"
    "`high = base.replace(phi_min=0.10)`.";

constexpr const char* kToDictDoc =
    "to_dict($self)\n--\n\n"
    "A plain, JSON-able dict `{spec, phi_min, sw_max, vsh_max}` \xe2\x80\x94 a scenario is\n"
    "a savable file. The `\"spec\"` type tag names the spec (R7 round-trip rule).";

constexpr const char* kFromDictDoc =
    "from_dict(d)\n--\n\n"
    "Rebuild from a `{phi_min, sw_max, vsh_max}` dict (missing keys \xe2\x86\x92 defaults).";

// The three fields in their order: parameter and dictionary key, member.
struct Field {
    const char* name;
    double vz::Cutoffs::*member;
};
constexpr Field kFields[] = {
    {"phi_min", &vz::Cutoffs::phi_min},
    {"sw_max", &vz::Cutoffs::sw_max},
    {"vsh_max", &vz::Cutoffs::vsh_max},
};

const vz::Cutoffs& cutoffs(PyObject* self) { return payload<vz::Cutoffs>(self); }

// Each argument given is converted to a float (None included, which fails);
// an omitted one keeps its default.
PyResult<vz::Cutoffs> construct(const Args& a) {
    vz::Cutoffs out;
    for (const Field& f : kFields) {
        VZ_ASSIGN_OR_RETURN(out.*f.member, a.get_or<double>(f.name, out.*f.member));
    }
    return out;
}

template <double vz::Cutoffs::*Member>
PyResult<double> field(PyObject* self) {
    return cutoffs(self).*Member;
}

// Omitted or None keeps this object's value.
PyResult<Ref> replace(PyObject* self, const Args& a) {
    vz::Cutoffs out = cutoffs(self);
    for (const Field& f : kFields) {
        VZ_ASSIGN_OR_RETURN(std::optional<double> v, a.opt<double>(f.name));
        if (v) out.*f.member = *v;
    }
    return new_net_settings(out);
}

PyResult<Ref> to_dict(PyObject* self, const Args&) {
    const vz::Cutoffs& c = cutoffs(self);
    DictBuilder d;
    d.add("spec", "NetSettings");
    for (const Field& f : kFields) d.add(f.name, c.*f.member);
    return std::move(d).build();
}

// Keys are looked up in the dict's own table (a subclass's __missing__ is not
// consulted); a missing key keeps its default, every other key is ignored.
PyResult<Ref> from_dict(const Args& a) {
    VZ_ASSIGN_OR_RETURN(Dict d, a.get<Dict>("d"));
    vz::Cutoffs out;
    for (const Field& f : kFields) {
        VZ_ASSIGN_OR_RETURN(Ref value, dict_lookup(d, f.name));
        if (!value) continue;
        VZ_ASSIGN_OR_RETURN(out.*f.member, from_py<double>(value.get()));
    }
    return new_net_settings(out);
}

// Equal when every field compares equal as a float (so NaN is unequal even to
// itself); other types and the ordering operators are left to the
// interpreter.
PyResult<Ref> compare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !is_instance(other, Py_TYPE(self))) return Ref::borrow(Py_NotImplemented);
    const vz::Cutoffs &x = cutoffs(self), &y = cutoffs(other);
    const bool equal = x.phi_min == y.phi_min && x.sw_max == y.sw_max && x.vsh_max == y.vsh_max;
    return to_py(equal == (op == Py_EQ));
}

PyResult<std::string> repr(PyObject* self) {
    const vz::Cutoffs& c = cutoffs(self);
    return fmt::format("NetSettings\n  phi_min  >=  {}\n  sw_max   <=  {}\n  vsh_max  <=  {}", fixed(c.phi_min, 3),
                       fixed(c.sw_max, 3), fixed(c.vsh_max, 3));
}

}  // namespace

PyResult<PyTypeObject*> net_settings_type() {
    static TypeCell cell;
    return cell.get([] {
        return ClassDef::of<vz::Cutoffs>("NetSettings", kDoc)
            .constructor<&construct>()
            .getter<&field<&vz::Cutoffs::phi_min>>("phi_min")
            .getter<&field<&vz::Cutoffs::sw_max>>("sw_max")
            .getter<&field<&vz::Cutoffs::vsh_max>>("vsh_max")
            .method<&replace>(kReplaceDoc)
            .method<&to_dict>(kToDictDoc)
            .static_method<&from_dict>(kFromDictDoc)
            .richcompare<&compare>()
            .repr<&repr>();
    });
}

PyResult<Ref> new_net_settings(vz::Cutoffs cut) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, net_settings_type());
    return create_instance(type, cut);
}

PyResult<vz::Cutoffs> net_settings_value(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, net_settings_type());
    if (!is_instance(obj, type)) return raise(not_instance(obj, "NetSettings"));
    return cutoffs(obj);
}

}  // namespace vz::py
