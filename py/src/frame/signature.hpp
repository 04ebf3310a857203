#pragma once
/// Signatures of binding callables, read from the text signature that starts
/// every docstring ("name($self, a, b=1, *, c=None)\n--\n\n…"), and the
/// matching of a call's positional and keyword arguments to the parameters.
///
/// The docstring is the one source of the parameter names and defaults, so
/// what Python's signature inspection shows and what the binding accepts
/// cannot drift apart. Matching follows the interpreter's own rules and
/// wording for Python functions (missing, surplus, duplicated, unknown and
/// positional-only-by-keyword arguments), so a binding call fails exactly
/// like a Python function of the same signature.
///
/// Free of Python: the frame maps Python argument arrays onto this.

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

namespace vz::py {

/// How a parameter may be passed.
enum class ParamKind { PositionalOnly, PositionalOrKeyword, KeywordOnly };

/// One parameter of a text signature.
struct Param {
    std::string name;
    ParamKind kind = ParamKind::PositionalOrKeyword;
    bool has_default = false;
    std::string default_text;  ///< the default as written in the signature
};

/// What kind of callable a signature belongs to; decides the leading `$self`
/// and the name used in argument errors ("f()", "Class.f()",
/// "Class.__new__()").
enum class CallableKind { ModuleFunction, Method, StaticMethod, Constructor };

/// A parsed text signature.
class Signature {
public:
    /// Parameters a binding callable may have (fixed-size argument slots).
    static constexpr std::size_t kMaxParams = 16;
    /// Slot value for a parameter the call did not give.
    static constexpr std::ptrdiff_t kNotGiven = -1;

    /// Reads the text signature at the start of `doc`. `class_name` names the
    /// owning class (methods, static methods, constructors); a constructor's
    /// signature starts with the class name. The error text says what is
    /// wrong with the docstring (a programming error, reported at import).
    static std::expected<Signature, std::string> parse(std::string_view doc, CallableKind kind,
                                                       std::string_view class_name = {});

    /// The callable's own name as the docstring writes it.
    const std::string& name() const { return name_; }
    /// The name argument errors use: "f()", "Class.f()", "Class.__new__()".
    const std::string& display_name() const { return display_; }
    /// The parameters, `$self` left out.
    const std::vector<Param>& params() const { return params_; }
    /// Number of parameters that can be passed by position.
    std::size_t positional_count() const { return npos_; }
    /// Index of the parameter called `name`.
    std::optional<std::size_t> index_of(std::string_view name) const {
        for (std::size_t i = 0; i < params_.size(); ++i)
            if (params_[i].name == name) return i;
        return std::nullopt;
    }

    /// Matches a call with `nargs` positional values and keywords named
    /// `kwnames` (in call order) to the parameters. On success `slots[i]`
    /// (one per parameter) holds the index of the value for parameter i: a
    /// position 0..nargs-1, or nargs + k for keyword k, or kNotGiven. On
    /// failure the result is the TypeError text the interpreter would give.
    std::expected<void, std::string> bind(std::size_t nargs, std::span<const std::string_view> kwnames,
                                          std::span<std::ptrdiff_t> slots) const;

private:
    std::string name_;
    std::string display_;
    std::vector<Param> params_;
    std::size_t npos_ = 0;
    std::size_t nposonly_ = 0;
    std::size_t nrequired_pos_ = 0;  ///< positional parameters before the first default
};

namespace signature_detail {

inline bool is_ident_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }
inline bool is_identifier(std::string_view s) {
    if (s.empty() || !is_ident_start(s[0])) return false;
    for (char c : s)
        if (!is_ident_char(c)) return false;
    return true;
}
inline std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

/// Splits the text between the parentheses at top-level commas (defaults may
/// hold brackets and quoted texts). Empty when the text is empty; nullopt when
/// brackets or quotes do not balance.
inline std::optional<std::vector<std::string_view>> split_params(std::string_view inner) {
    std::vector<std::string_view> out;
    if (trim_blanks(inner).empty()) return out;
    int depth = 0;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (quote) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') quote = c;
        else if (c == '(' || c == '[' || c == '{') ++depth;
        else if (c == ')' || c == ']' || c == '}') {
            if (--depth < 0) return std::nullopt;
        } else if (c == ',' && depth == 0) {
            out.push_back(trim_blanks(inner.substr(start, i - start)));
            start = i + 1;
        }
    }
    if (depth != 0 || quote) return std::nullopt;
    out.push_back(trim_blanks(inner.substr(start)));
    return out;
}

/// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the interpreter's list of
/// missing names.
inline std::string quoted_name_list(const std::vector<std::string_view>& names) {
    std::string out;
    const std::size_t n = names.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) {
            if (n > 2) out += ',';
            out += (i == n - 1) ? " and " : " ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

}  // namespace signature_detail

inline std::expected<Signature, std::string> Signature::parse(std::string_view doc, CallableKind kind,
                                                              std::string_view class_name) {
    using namespace signature_detail;
    using Err = std::unexpected<std::string>;
    std::size_t open = 0;
    while (open < doc.size() && is_ident_char(doc[open])) ++open;
    if (open == 0 || open >= doc.size() || doc[open] != '(')
        return Err(fmt::format("docstring does not start with a text signature: {:?}", doc.substr(0, 40)));
    Signature sig;
    sig.name_ = std::string(doc.substr(0, open));
    if (kind == CallableKind::Constructor && sig.name_ != class_name)
        return Err(fmt::format("constructor signature '{}' does not name its class '{}'", sig.name_, class_name));

    // Closing parenthesis at depth 0, outside quoted defaults.
    int depth = 0;
    char quote = 0;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = open; i < doc.size(); ++i) {
        const char c = doc[i];
        if (quote) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') quote = c;
        else if (c == '(' || c == '[' || c == '{') ++depth;
        else if (c == ')' || c == ']' || c == '}') {
            if (--depth == 0) {
                close = i;
                break;
            }
        }
    }
    if (close == std::string_view::npos || doc.substr(close + 1, 5) != "\n--\n\n")
        return Err(fmt::format("signature of '{}' must end with \")\\n--\\n\\n\"", sig.name_));

    auto tokens = split_params(doc.substr(open + 1, close - open - 1));
    if (!tokens) return Err(fmt::format("unbalanced signature of '{}'", sig.name_));

    std::size_t first = 0;
    const bool wants_self = kind == CallableKind::Method;
    const bool has_self = !tokens->empty() && (*tokens)[0] == "$self";
    if (wants_self != has_self)
        return Err(fmt::format("signature of '{}' {} start with $self", sig.name_, wants_self ? "must" : "must not"));
    if (has_self) first = 1;

    bool seen_slash = false, seen_star = false, seen_default = false;
    for (std::size_t t = first; t < tokens->size(); ++t) {
        const std::string_view tok = (*tokens)[t];
        if (tok == "/") {
            if (seen_slash || seen_star || sig.params_.empty())
                return Err(fmt::format("misplaced '/' in the signature of '{}'", sig.name_));
            seen_slash = true;
            for (Param& p : sig.params_) p.kind = ParamKind::PositionalOnly;
            continue;
        }
        if (tok == "*") {
            if (seen_star || t + 1 == tokens->size())
                return Err(fmt::format("misplaced '*' in the signature of '{}'", sig.name_));
            seen_star = true;
            continue;
        }
        Param p;
        const std::size_t eq = tok.find('=');
        const std::string_view pname = trim_blanks(tok.substr(0, eq));
        if (!is_identifier(pname))
            return Err(fmt::format("bad parameter '{}' in the signature of '{}'", tok, sig.name_));
        p.name = std::string(pname);
        if (eq != std::string_view::npos) {
            p.has_default = true;
            p.default_text = std::string(trim_blanks(tok.substr(eq + 1)));
            if (p.default_text.empty())
                return Err(fmt::format("empty default of '{}' in the signature of '{}'", p.name, sig.name_));
        }
        p.kind = seen_star ? ParamKind::KeywordOnly : ParamKind::PositionalOrKeyword;
        if (!seen_star) {
            if (p.has_default) seen_default = true;
            else if (seen_default)
                return Err(fmt::format("parameter '{}' without a default follows one with a default in '{}'", p.name,
                                       sig.name_));
        }
        if (sig.index_of(p.name))
            return Err(fmt::format("duplicate parameter '{}' in the signature of '{}'", p.name, sig.name_));
        sig.params_.push_back(std::move(p));
    }
    if (sig.params_.size() > kMaxParams)
        return Err(fmt::format("signature of '{}' has more than {} parameters", sig.name_, kMaxParams));

    for (const Param& p : sig.params_) {
        if (p.kind == ParamKind::KeywordOnly) break;
        ++sig.npos_;
        if (p.kind == ParamKind::PositionalOnly) ++sig.nposonly_;
        if (!p.has_default) ++sig.nrequired_pos_;
    }
    switch (kind) {
        case CallableKind::ModuleFunction: sig.display_ = sig.name_ + "()"; break;
        case CallableKind::Method:
        case CallableKind::StaticMethod: sig.display_ = fmt::format("{}.{}()", class_name, sig.name_); break;
        case CallableKind::Constructor: sig.display_ = fmt::format("{}.__new__()", class_name); break;
    }
    return sig;
}

inline std::expected<void, std::string> Signature::bind(std::size_t nargs, std::span<const std::string_view> kwnames,
                                                        std::span<std::ptrdiff_t> slots) const {
    using Err = std::unexpected<std::string>;
    for (std::ptrdiff_t& s : slots) s = kNotGiven;
    for (std::size_t i = 0; i < nargs && i < npos_; ++i) slots[i] = static_cast<std::ptrdiff_t>(i);

    // Keywords in call order, as the interpreter does: unknown names and
    // duplicates are reported before a surplus of positional values.
    for (std::size_t k = 0; k < kwnames.size(); ++k) {
        const std::string_view kw = kwnames[k];
        std::optional<std::size_t> j;
        for (std::size_t i = nposonly_; i < params_.size(); ++i)
            if (params_[i].name == kw) {
                j = i;
                break;
            }
        if (!j) {
            std::vector<std::string_view> posonly_hits;
            for (std::size_t i = 0; i < nposonly_; ++i)
                for (std::string_view other : kwnames)
                    if (other == params_[i].name) posonly_hits.push_back(other);
            if (!posonly_hits.empty()) {
                std::string joined;
                for (std::size_t h = 0; h < posonly_hits.size(); ++h) {
                    if (h) joined += ", ";
                    joined += posonly_hits[h];
                }
                return Err(fmt::format("{} got some positional-only arguments passed as keyword arguments: '{}'",
                                       display_, joined));
            }
            return Err(fmt::format("{} got an unexpected keyword argument '{}'", display_, kw));
        }
        if (slots[*j] != kNotGiven) return Err(fmt::format("{} got multiple values for argument '{}'", display_, kw));
        slots[*j] = static_cast<std::ptrdiff_t>(nargs + k);
    }

    if (nargs > npos_) {
        std::size_t kwonly_given = 0;
        for (std::size_t i = npos_; i < params_.size(); ++i)
            if (slots[i] != kNotGiven) ++kwonly_given;
        const bool has_defaults = nrequired_pos_ != npos_;
        const std::string takes =
            has_defaults ? fmt::format("from {} to {}", nrequired_pos_, npos_) : fmt::format("{}", npos_);
        const bool plural = has_defaults || npos_ != 1;
        std::string kwonly_sig;
        if (kwonly_given)
            kwonly_sig = fmt::format(" positional argument{} (and {} keyword-only argument{})", nargs != 1 ? "s" : "",
                                     kwonly_given, kwonly_given != 1 ? "s" : "");
        return Err(fmt::format("{} takes {} positional argument{} but {}{} {} given", display_, takes,
                               plural ? "s" : "", nargs, kwonly_sig, nargs == 1 && !kwonly_given ? "was" : "were"));
    }

    auto missing = [&](std::size_t from, std::size_t to, const char* kind) -> std::optional<std::string> {
        std::vector<std::string_view> names;
        for (std::size_t i = from; i < to; ++i)
            if (slots[i] == kNotGiven && !params_[i].has_default) names.push_back(params_[i].name);
        if (names.empty()) return std::nullopt;
        return fmt::format("{} missing {} required {} argument{}: {}", display_, names.size(), kind,
                           names.size() == 1 ? "" : "s", signature_detail::quoted_name_list(names));
    };
    if (nargs < nrequired_pos_)
        if (auto m = missing(nargs, nrequired_pos_, "positional")) return Err(std::move(*m));
    if (auto m = missing(npos_, params_.size(), "keyword-only")) return Err(std::move(*m));
    return {};
}

}  // namespace vz::py
