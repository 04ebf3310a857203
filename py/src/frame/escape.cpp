#include "frame/escape.hpp"

#include <algorithm>
#include <vector>

#include "frame/ref.hpp"

namespace vz::py {

namespace {

// Which characters beyond ASCII a repr escapes, decided by their Unicode
// general category as the interpreter's own `unicodedata` module gives it
// (so the answer follows the Unicode version of the running Python):
//  - non-printable: Cc, Cf, Cs, Co, Cn (controls, format characters,
//    surrogates, private use, unassigned), Zl, Zp (line and paragraph
//    separators) and Zs (space separators; the one ASCII space is decided
//    before this is asked) — the same set Python's str.isprintable() rejects;
//  - combining marks: Mn, Me (non-spacing and enclosing marks), which would
//    otherwise fuse with the quote or the character before them.
bool escaped_category(std::string_view cat) {
    static constexpr std::string_view kEscaped[] = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs", "Mn", "Me"};
    return std::find(std::begin(kEscaped), std::end(kEscaped), cat) != std::end(kEscaped);
}

// The code points of `text` from U+0080 on that are escaped, sorted; each
// distinct code point is looked up once.
PyResult<std::vector<char32_t>> escaped_code_points(std::string_view text) {
    std::vector<char32_t> wide;
    for_each_code_point(text, [&](char32_t cp, std::string_view) {
        if (cp >= 0x80) wide.push_back(cp);
    });
    std::vector<char32_t> out;
    if (wide.empty()) return out;
    std::sort(wide.begin(), wide.end());
    wide.erase(std::unique(wide.begin(), wide.end()), wide.end());

    VZ_ASSIGN_OR_RETURN(Ref module, checked(PyImport_ImportModule("unicodedata")));
    VZ_ASSIGN_OR_RETURN(Ref category, checked(PyObject_GetAttrString(module.get(), "category")));
    for (char32_t cp : wide) {
        VZ_ASSIGN_OR_RETURN(Ref ch, checked(PyUnicode_FromOrdinal(static_cast<int>(cp))));
        VZ_ASSIGN_OR_RETURN(Ref cat, checked(PyObject_CallFunctionObjArgs(category.get(), ch.get(), nullptr)));
        Py_ssize_t n = 0;
        const char* s = PyUnicode_AsUTF8AndSize(cat.get(), &n);
        if (!s) return raise_pending();
        if (escaped_category(std::string_view(s, static_cast<std::size_t>(n)))) out.push_back(cp);
    }
    return out;
}

}  // namespace

PyResult<std::string> escape_literal(std::string_view text) {
    VZ_ASSIGN_OR_RETURN(std::vector<char32_t> escaped, escaped_code_points(text));
    return escape_literal_with(
        text, [&](char32_t cp) { return std::binary_search(escaped.begin(), escaped.end(), cp); });
}

PyResult<std::string> optional_literal(const std::optional<std::string>& text) {
    if (!text) return std::string("None");
    VZ_ASSIGN_OR_RETURN(std::string literal, escape_literal(*text));
    return "Some(" + literal + ")";
}

}  // namespace vz::py
