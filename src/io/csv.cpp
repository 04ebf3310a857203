#include "io/csv.hpp"

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "io/text.hpp"

namespace vz::csv {

std::expected<bool, CsvError> Reader::next(Record& rec) {
    rec.fields.clear();
    rec.unescaped.clear();
    const std::size_t n = data_.size();
    // Blank lines are no records.
    while (pos_ < n && (data_[pos_] == '\n' || data_[pos_] == '\r')) ++pos_;
    if (pos_ >= n) return false;
    const std::size_t start = pos_;
    while (true) {
        if (pos_ < n && data_[pos_] == '"') {
            // Quoted field: "" stands for one quote; text after the closing
            // quote up to the separator is kept as well.
            std::size_t b = ++pos_;
            bool escaped = false;
            std::size_t close = n;
            while (pos_ < n) {
                if (data_[pos_] == '"') {
                    if (pos_ + 1 < n && data_[pos_ + 1] == '"') {
                        escaped = true;
                        pos_ += 2;
                        continue;
                    }
                    close = pos_++;
                    break;
                }
                ++pos_;
            }
            std::size_t tail = pos_;
            while (pos_ < n && data_[pos_] != ',' && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
            std::string_view inner = data_.substr(b, std::min(close, n) - b);
            if (!escaped && tail == pos_) {
                rec.fields.push_back(inner);
            } else {
                std::string s;
                s.reserve(inner.size() + (pos_ - tail));
                for (std::size_t i = 0; i < inner.size(); ++i) {
                    s.push_back(inner[i]);
                    if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
                }
                s.append(data_.substr(tail, pos_ - tail));
                rec.unescaped.push_back(std::move(s));
                rec.fields.push_back(rec.unescaped.back());
            }
        } else {
            std::size_t b = pos_;
            while (pos_ < n && data_[pos_] != ',' && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
            rec.fields.push_back(data_.substr(b, pos_ - b));
        }
        if (pos_ < n && data_[pos_] == ',') {
            ++pos_;
            continue;
        }
        break;
    }
    const std::size_t end = pos_;
    if (pos_ < n && data_[pos_] == '\r') ++pos_;
    if (pos_ < n && data_[pos_] == '\n') ++pos_;
    if (utf8_ && !text::valid_utf8(data_.substr(start, end - start)))
        return std::unexpected(CsvError{CsvError::Kind::Utf8, "invalid UTF-8 in record"});
    if (!have_width_) {
        width_ = rec.fields.size();
        have_width_ = true;
    } else if (rec.fields.size() != width_) {
        return std::unexpected(CsvError{CsvError::Kind::FieldCount,
                                        fmt::format("found record with {} fields, but the header has {} fields",
                                                    rec.fields.size(), width_)});
    }
    return true;
}

}  // namespace vz::csv

namespace vz::io {

Error csv_error(std::string_view context, const csv::CsvError& e) {
    if (e.kind == csv::CsvError::Kind::Io) return Error::io(e.text);
    return Error::parse(fmt::format("{}: {}", context, e.text));
}

}  // namespace vz::io

namespace vz::io {

namespace {

// Unicode trimming, with the common case (a field that starts and ends with
// a printable ASCII character) answered at once.
std::string_view trim_field(std::string_view f) {
    if (!f.empty()) {
        auto a = static_cast<unsigned char>(f.front()), b = static_cast<unsigned char>(f.back());
        if (a > 0x20 && a < 0x7F && b > 0x20 && b < 0x7F) return f;
    }
    return trim_unicode(f);
}

}  // namespace

}  // namespace vz::io

namespace vz::tops_csv {

Result<std::size_t> column_index(const std::vector<std::string_view>& header, std::string_view column) {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == column) return i;
    return fail(Error::not_found(fmt::format("tops CSV: column '{}'", column)));
}

namespace {

Error row_error(std::size_t r, std::string_view what) { return Error::parse(fmt::format("tops CSV: row {}: {}", r, what)); }

Error bad_md(std::size_t r, std::string_view field, text::NumberError e) {
    return Error::parse(fmt::format("tops CSV: row {}: bad md '{}': {}", r, field, text::number_error_text(e)));
}

}  // namespace

Result<std::vector<std::pair<std::string, double>>> read_file(const std::filesystem::path& path,
                                                               std::string_view name_column,
                                                               std::string_view md_column) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    const std::string decoded = text::decode_latin1(bytes);
    csv::Reader reader(decoded, false);
    csv::Record rec;
    auto got = reader.next(rec);
    if (!got) return fail(io::csv_error("tops CSV: bad header", got.error()));
    std::vector<std::string_view> header = rec.fields;
    std::vector<std::string> header_store(header.begin(), header.end());
    header.assign(header_store.begin(), header_store.end());
    VZ_ASSIGN_OR_RETURN(std::size_t name_at, column_index(header, name_column));
    VZ_ASSIGN_OR_RETURN(std::size_t md_at, column_index(header, md_column));

    std::vector<std::pair<std::string, double>> out;
    for (std::size_t r = 0;; ++r) {
        got = reader.next(rec);
        if (!got) return fail(io::csv_error(fmt::format("tops CSV: row {}", r), got.error()));
        if (!*got) break;
        if (name_at >= rec.fields.size()) return fail(row_error(r, "missing name"));
        if (md_at >= rec.fields.size()) return fail(row_error(r, "missing md"));
        std::string_view md_field = rec.fields[md_at];
        auto md = text::parse_number(io::trim_field(md_field));
        if (!md) return fail(bad_md(r, md_field, md.error()));
        out.emplace_back(std::string(rec.fields[name_at]), *md);
    }
    return out;
}

}  // namespace vz::tops_csv

namespace vz::csv_points {

namespace {

Error row_error(std::size_t r, std::string_view what) {
    return Error::parse(fmt::format("points CSV: row {}: {}", r, what));
}

Result<std::size_t> find_column(const std::vector<std::string>& header, std::string_view column) {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == column) return i;
    return fail(Error::not_found(fmt::format("points CSV: column '{}'", column)));
}

Result<double> coordinate(const csv::Record& rec, std::size_t at, std::string_view name, std::size_t r) {
    if (at >= rec.fields.size()) return fail(row_error(r, fmt::format("missing {}", name)));
    std::string_view field = rec.fields[at];
    auto v = text::parse_number(io::trim_field(field));
    if (!v)
        return fail(Error::parse(
            fmt::format("points CSV: row {}: bad {} '{}': {}", r, name, field, text::number_error_text(v.error()))));
    return *v;
}

}  // namespace

Result<PointColumns> read_file(const std::filesystem::path& path, std::string_view x_column,
                               std::string_view y_column, std::string_view z_column) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    csv::Reader reader(bytes, true);
    csv::Record rec;
    auto got = reader.next(rec);
    if (!got) return fail(io::csv_error("points CSV: bad header", got.error()));
    const std::vector<std::string> header(rec.fields.begin(), rec.fields.end());
    VZ_ASSIGN_OR_RETURN(std::size_t xi, find_column(header, x_column));
    VZ_ASSIGN_OR_RETURN(std::size_t yi, find_column(header, y_column));
    VZ_ASSIGN_OR_RETURN(std::size_t zi, find_column(header, z_column));

    struct Column {
        std::size_t index;
        bool live = true;
        std::vector<double> values;
    };
    std::vector<Column> columns;
    for (std::size_t i = 0; i < header.size(); ++i)
        if (i != xi && i != yi && i != zi) columns.push_back(Column{i, true, {}});

    PointColumns out;
    for (std::size_t r = 0;; ++r) {
        got = reader.next(rec);
        if (!got) return fail(io::csv_error(fmt::format("points CSV: row {}", r), got.error()));
        if (!*got) break;
        VZ_ASSIGN_OR_RETURN(double x, coordinate(rec, xi, header[xi], r));
        VZ_ASSIGN_OR_RETURN(double y, coordinate(rec, yi, header[yi], r));
        VZ_ASSIGN_OR_RETURN(double z, coordinate(rec, zi, header[zi], r));
        out.points.push_back({x, y, z});
        for (auto& c : columns) {
            if (!c.live) continue;
            std::expected<double, text::NumberError> v = std::unexpected(text::NumberError::Empty);
            if (c.index < rec.fields.size()) v = text::parse_number(io::trim_field(rec.fields[c.index]));
            if (!v) {
                c.live = false;
                c.values = {};
                continue;
            }
            c.values.push_back(*v);
        }
    }
    for (auto& c : columns)
        if (c.live) out.attributes.insert_or_assign(header[c.index], std::move(c.values));
    return out;
}

}  // namespace vz::csv_points
