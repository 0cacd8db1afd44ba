// The two text files beside the program, in their free-format field notation: the settings file
// (tavrion.ini) and the resolution list (output_reso.txt). Pure functions on bytes, without Qt, so
// they can be tested and fuzzed on their own; reading the files from disk is start-up's business.
//
// Notation: fields are separated by a comma or a line end (CR LF; a lone LF or a lone CR counts as
// one line end too). Blanks and tabs before a field are skipped. A field that begins with a double
// quote runs to the next double quote (line ends included; no closing quote at all is an error);
// whatever follows the closing quote up
// to the next comma or line end is discarded. An unquoted field runs to the next comma or line end,
// trailing blanks and tabs not included. An empty line reads as an empty field. Asking for a field
// when only blanks remain is an error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavrion {

// Neither file has any business being this large; refusing it keeps a stray binary from being
// parsed into thousands of list entries.
constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;
// Resolution numbers travel as three digits, so no more entries than that can be selected.
constexpr std::size_t kMaxResolutionEntries = 999;

class FieldReader {
public:
    explicit FieldReader(std::string_view bytes) : data_(bytes) {}

    // Reads the next field into `field`. False when nothing but blanks is left (reading past the
    // end) or when a quoted field has no closing quote; `field` is then empty and unterminated()
    // tells the two apart.
    bool next(std::string& field);
    bool unterminated() const { return unterminated_; }
    // Line (1-based) on which the last field read began; for messages.
    int line() const { return field_line_; }

private:
    bool at_line_end() const;
    void skip_line_end();

    std::string_view data_;
    std::size_t pos_ = 0;
    int current_line_ = 1;
    int field_line_ = 1;
    bool unterminated_ = false;
};

struct SettingsValues {
    int link_interface = 0; // 0 RS-232, 1 Ethernet
    int com_port = 1;       // 1..9
    bool advanced_view = true;
    std::string address;    // device address, as typed
};

struct SettingsRead {
    bool ok = false;
    SettingsValues values;
    std::string error; // what is wrong, when !ok
};

struct ResolutionListRead {
    bool ok = false;
    std::vector<std::string> entries;
    std::string error;
};

// Four fields in this order: integer link, integer COM port, Boolean advanced view, text address.
// Integers are decimal with an optional leading minus and must fit 16 bits; Booleans must be
// exactly #TRUE# or #FALSE# (anything else, including other spellings, is an error). Values are
// not range-checked here: start-up decides what to do with a link or port it cannot show.
// Anything after the fourth field is ignored.
SettingsRead read_settings(std::string_view bytes);

// Text fields up to one that is exactly "END" (case matters); everything after it is ignored.
// A list without END is an error.
ResolutionListRead read_resolution_list(std::string_view bytes);

// The file as the program writes it: four lines, each ended by CR LF. The address is written
// between double quotes with leading and trailing blanks removed; double quotes and line ends in it
// are dropped, since the notation has no way to escape them and the file must read back.
std::string write_settings(const SettingsValues& values);

} // namespace tavrion
