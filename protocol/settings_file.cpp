#include "protocol/settings_file.h"

namespace tavrion {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A field's text as a message may quote it: short, and without control characters.
std::string quoted_for_message(const std::string& text)
{
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c < 0x20 || c == 0x7f) ? '?' : char(c);
    }
    if (text.size() > kShown) out += "...";
    return out + "\"";
}

std::string size_error(std::size_t size)
{
    return "the file is too large (" + std::to_string(size) + " bytes; at most "
        + std::to_string(kMaxSettingsFileBytes) + " are accepted)";
}

// Decimal digits with an optional leading minus, within the 16-bit range the values are kept in.
bool parse_integer(const std::string& text, int& value)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    if (i == text.size()) return false;
    long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > 32768) return false;
    }
    if (negative) v = -v;
    if (v < -32768 || v > 32767) return false;
    value = int(v);
    return true;
}

std::string trim_blanks(const std::string& text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && is_blank(text[b])) ++b;
    while (e > b && is_blank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

} // namespace

bool FieldReader::at_line_end() const { return pos_ < data_.size() && (data_[pos_] == '\r' || data_[pos_] == '\n'); }

void FieldReader::skip_line_end()
{
    // CR LF, a lone LF or a lone CR: each is one line end.
    if (pos_ < data_.size() && data_[pos_] == '\r') ++pos_;
    if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
    ++current_line_;
}

bool FieldReader::next(std::string& field)
{
    field.clear();
    unterminated_ = false;
    while (pos_ < data_.size() && is_blank(data_[pos_])) ++pos_;
    field_line_ = current_line_;
    if (pos_ >= data_.size()) return false;

    if (at_line_end()) { // an empty line, or nothing between a comma and the line end
        skip_line_end();
        return true;
    }

    if (data_[pos_] == '"') {
        const std::size_t close = data_.find('"', pos_ + 1);
        if (close == std::string_view::npos) {
            unterminated_ = true;
            pos_ = data_.size();
            return false;
        }
        field.assign(data_.substr(pos_ + 1, close - pos_ - 1));
        for (char c : field)
            if (c == '\n') ++current_line_;
        pos_ = close + 1;
        // Whatever follows the closing quote on this line belongs to no field.
        while (pos_ < data_.size() && data_[pos_] != ',' && !at_line_end()) ++pos_;
    } else {
        const std::size_t start = pos_;
        while (pos_ < data_.size() && data_[pos_] != ',' && !at_line_end()) ++pos_;
        std::size_t end = pos_;
        while (end > start && is_blank(data_[end - 1])) --end;
        field.assign(data_.substr(start, end - start));
    }

    if (pos_ < data_.size()) {
        if (data_[pos_] == ',')
            ++pos_;
        else
            skip_line_end();
    }
    return true;
}

SettingsRead read_settings(std::string_view bytes)
{
    SettingsRead r;
    if (bytes.size() > kMaxSettingsFileBytes) {
        r.error = size_error(bytes.size());
        return r;
    }
    FieldReader reader(bytes);
    std::string field;
    auto take = [&](const char* what) {
        if (reader.next(field)) return true;
        r.error = reader.unterminated()
            ? "line " + std::to_string(reader.line()) + ": the " + what + " has no closing double quote"
            : std::string("the file ends before the ") + what + " (four lines are expected)";
        return false;
    };
    auto wrong = [&](const char* what, const char* expected) {
        r.error = "line " + std::to_string(reader.line()) + ": the " + what + " must be " + expected
            + ", found " + quoted_for_message(field);
    };

    SettingsValues& v = r.values;
    if (!take("link interface")) return r;
    if (!parse_integer(field, v.link_interface)) {
        wrong("link interface", "a whole number");
        return r;
    }
    if (!take("COM port")) return r;
    if (!parse_integer(field, v.com_port)) {
        wrong("COM port", "a whole number");
        return r;
    }
    if (!take("window size")) return r;
    if (field == "#TRUE#")
        v.advanced_view = true;
    else if (field == "#FALSE#")
        v.advanced_view = false;
    else {
        wrong("window size", "#TRUE# or #FALSE#");
        return r;
    }
    if (!take("device address")) return r;
    v.address = field;
    r.ok = true;
    return r;
}

ResolutionListRead read_resolution_list(std::string_view bytes)
{
    ResolutionListRead r;
    if (bytes.size() > kMaxSettingsFileBytes) {
        r.error = size_error(bytes.size());
        return r;
    }
    FieldReader reader(bytes);
    std::string field;
    for (;;) {
        if (!reader.next(field)) {
            r.error = reader.unterminated()
                ? "line " + std::to_string(reader.line()) + ": an entry has no closing double quote"
                : "the list has no \"END\" line";
            r.entries.clear();
            return r;
        }
        if (field == "END") break;
        if (r.entries.size() == kMaxResolutionEntries) {
            r.error = "the list has more than " + std::to_string(kMaxResolutionEntries) + " entries";
            r.entries.clear();
            return r;
        }
        r.entries.push_back(field);
    }
    r.ok = true;
    return r;
}

std::string write_settings(const SettingsValues& v)
{
    // Dropped before trimming, so no blank is left at either end by a dropped character.
    std::string kept;
    for (char c : v.address)
        if (c != '"' && c != '\r' && c != '\n') kept += c;
    const std::string address = trim_blanks(kept);
    std::string out;
    out += std::to_string(v.link_interface) + "\r\n";
    out += std::to_string(v.com_port) + "\r\n";
    out += v.advanced_view ? "#TRUE#\r\n" : "#FALSE#\r\n";
    out += "\"" + address + "\"\r\n";
    return out;
}

} // namespace tavrion
